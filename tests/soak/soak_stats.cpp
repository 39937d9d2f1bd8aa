#include "soak_stats.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "support/handle_count.h"

ProcessFigures MeasureProcess() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    // Wine leaves PrivateUsage at 0; the page-file usage is the same commit
    // charge there.
    const SIZE_T privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return ProcessFigures{CountProcessHandles(), static_cast<unsigned long long>(privateBytes)};
}

std::string FormatFigures(const char* when, const ProcessFigures& f) {
    char line[160];
    std::snprintf(line, sizeof line, "%-7s handles %lu, private bytes %llu", when, f.handles, f.privateBytes);
    return line;
}
