#pragma once
// The application object's base: start-up hook, one-message pump and idle
// processing, for code that waits on a thread whose window messages must keep
// flowing (socket notifications arrive as messages).
#include <windows.h>

class CWinApp {
public:
    CWinApp() = default;
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs once when the object is created; true when start-up succeeded.
    virtual bool InitInstance();
    // Removes and dispatches one message of the calling thread's queue. False
    // when that message was the quit message; true otherwise, also when the
    // queue was empty (it never blocks).
    virtual bool PumpMessage();
    // Idle processing, called with 0, 1, 2, ... until it returns false.
    virtual bool OnIdle(long count);
};
