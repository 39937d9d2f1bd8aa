#include "framework/win_app.h"

bool CWinApp::InitInstance() { return true; }

bool CWinApp::PumpMessage() {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) return false;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

// Nothing is kept for idle time; one pass asks for no more.
bool CWinApp::OnIdle(long count) { return count < 1; }
