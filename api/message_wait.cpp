#include "api/message_wait.h"

#include <windows.h>

#include "engine/robot_tool.h"
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

ReplyWatch::ReplyWatch(CRobotTool* robot, int id) : m_robot(robot), m_id(id), m_event(robot->WatchReply(id)) {}

ReplyWatch::~ReplyWatch() {
    if (m_event) CloseHandle(m_event);
}

void ReplyWatch::Wait(DWORD ms) {
    // Input already in the queue counts too, not only what arrives later.
    if (m_event) MsgWaitForMultipleObjectsEx(1, &m_event, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    else MsgWaitForMultipleObjectsEx(0, nullptr, ms < 1 ? ms : 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void ReplyWatch::Done() { m_robot->ForgetWatch(m_id); }
