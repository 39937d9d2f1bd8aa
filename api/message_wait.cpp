#include "api/message_wait.h"

#include <windows.h>

#include "ports/library_app.h"

bool PumpPendingMessages() {
    CLibraryApp& app = GetLibraryApp();
    MSG msg;
    bool quit = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!app.PumpMessage()) {
            PostQuitMessage(0);
            quit = true;
            break;
        }
    }
    if (!quit) {
        for (long count = 0; app.OnIdle(count); ++count) {
        }
    }
    return !quit;
}
