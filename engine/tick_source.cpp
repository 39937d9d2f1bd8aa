#include "engine/tick_source.h"

#include <atomic>

#include <windows.h>

namespace {

uint32_t SystemTicks() { return GetTickCount(); }

std::atomic<TickSourceFn> g_source{&SystemTicks};

constexpr unsigned int kDefaultPollWaitMs = 100;
std::atomic<unsigned int> g_pollWaitMs{kDefaultPollWaitMs};

} // namespace

uint32_t EngineTickCount() { return g_source.load()(); }

TickSourceFn SetEngineTickSource(TickSourceFn source) {
    return g_source.exchange(source ? source : &SystemTicks);
}

unsigned int EnginePollWaitMs() { return g_pollWaitMs.load(); }

unsigned int SetEnginePollWait(unsigned int ms) { return g_pollWaitMs.exchange(ms ? ms : kDefaultPollWaitMs); }
