#include "engine/tick_source.h"

#include <atomic>

#include <windows.h>

namespace {

uint32_t SystemTicks() { return GetTickCount(); }

std::atomic<TickSourceFn> g_source{&SystemTicks};

} // namespace

uint32_t EngineTickCount() { return g_source.load()(); }

TickSourceFn SetEngineTickSource(TickSourceFn source) {
    return g_source.exchange(source ? source : &SystemTicks);
}
