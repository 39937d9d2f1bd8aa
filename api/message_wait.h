#pragma once
// Waiting on a thread whose window messages must keep flowing: the TCP
// port's socket notifications arrive as messages of the thread that made it.
#include <windows.h>

#include "engine/robot_tool.h"

// Dispatches every pending message of the calling thread, then runs the
// application object's idle processing. False when the quit message came; it
// is posted again for the host's own loop.
bool PumpPendingMessages();

// A host thread's wait for one command's record together with its message
// queue: Wait returns when the record changes, a message is queued, or ms
// pass, without spinning. Without a waiter event it falls back to short
// waits on the queue alone.
class ReplyWatch {
public:
    ReplyWatch(CRobotTool* robot, int id);
    ~ReplyWatch();
    ReplyWatch(const ReplyWatch&) = delete;
    ReplyWatch& operator=(const ReplyWatch&) = delete;

    void Wait(DWORD ms);
    // The robot object discarded the record, lost its port or was destroyed
    // while this watch waited (possibly by a call made from a message this
    // thread dispatched): nothing will ever come.
    bool Cut() const;

private:
    CRobotTool* m_robot;
    ReplyWaiter m_waiter;
    bool m_listed;
    LONG m_generation;
};
