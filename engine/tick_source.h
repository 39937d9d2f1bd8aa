#pragma once
// The millisecond clock of the engine. GetTickCount by default; tests install
// their own source to drive time limits, keep-alive and tick wrap-around
// without waiting.
#include <cstdint>

typedef uint32_t (*TickSourceFn)();

uint32_t EngineTickCount();
// Installs a tick source; null restores GetTickCount. Returns the previous one.
TickSourceFn SetEngineTickSource(TickSourceFn source);
