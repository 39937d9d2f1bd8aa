#pragma once
// The millisecond clock of the engine and the poll wait. GetTickCount and
// 100 ms by default; tests install their own source to drive time limits,
// keep-alive and tick wrap-around without waiting, and lengthen the poll wait
// so that a wake-up that is lost shows as a wait that never ends.
#include <cstdint>

typedef uint32_t (*TickSourceFn)();

uint32_t EngineTickCount();
// Installs a tick source; null restores GetTickCount. Returns the previous one.
TickSourceFn SetEngineTickSource(TickSourceFn source);

// How long one poll cycle waits for input or work, in ms.
unsigned int EnginePollWaitMs();
// Sets the poll wait; 0 restores 100 ms. Returns the previous value.
unsigned int SetEnginePollWait(unsigned int ms);
