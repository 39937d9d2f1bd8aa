#pragma once
// Lets the calling thread's window messages flow while a test waits: socket
// notifications are delivered only while their thread dispatches messages.
#include <windows.h>

inline void PumpPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps until cond holds or ms have passed; returns cond's last value.
template <typename Cond>
bool PumpUntil(Cond cond, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpPendingMessages();
        if (cond()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed < 10 ? ms - elapsed : 10, QS_ALLINPUT);
    }
}

// Pumps for ms whatever happens.
inline void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

// True once event is signalled (consuming an auto-reset signal).
inline bool Signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
