#pragma once
// The number of kernel handles this process holds. Wine's GetProcessHandleCount reports 0, so where it does, the handle
// table is probed directly: every value that GetHandleInformation accepts is a handle.
#include <windows.h>

inline unsigned long CountProcessHandles() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported > 0) return reported;
    unsigned long count = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}
