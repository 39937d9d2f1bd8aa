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

ReplyWatch::ReplyWatch(CRobotTool* robot, int id)
    : m_robot(robot), m_listed(robot->ListWaiter(m_waiter, id)), m_generation(robot->GetLinkGeneration()) {}

ReplyWatch::~ReplyWatch() {
    if (m_listed) m_robot->UnlistWaiter(m_waiter);
}

void ReplyWatch::Wait(DWORD ms) {
    // Input already in the queue counts too, not only what arrives later.
    if (m_listed) MsgWaitForMultipleObjectsEx(1, &m_waiter.event, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    else MsgWaitForMultipleObjectsEx(0, nullptr, ms < 1 ? ms : 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

bool ReplyWatch::Cut() const {
    CLockHold hold(*m_robot);
    return m_waiter.cut || m_robot->GetLinkGeneration() != m_generation;
}
