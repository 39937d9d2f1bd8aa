#pragma once
// A robot handle is the address of the robot object the host created.
#include "engine/robot_tool.h"

typedef void* RobotHandle;

inline CRobotTool* RobotFromHandle(RobotHandle handle) { return static_cast<CRobotTool*>(handle); }

// How many RobotUse this thread holds, on any robot object.
inline int& RobotUsesOfThisThread() {
    static thread_local int uses = 0;
    return uses;
}

// Keeps a robot object alive for one host call that waits or dispatches
// messages: a destroy made meanwhile (from a message this call dispatched,
// or from another thread) leaves the deleting to the end of the call.
class RobotUse {
public:
    explicit RobotUse(CRobotTool* robot) : m_robot(robot) {
        if (m_robot) m_robot->AddUse();
        ++RobotUsesOfThisThread();
    }
    ~RobotUse() {
        --RobotUsesOfThisThread();
        if (m_robot && m_robot->DropUse()) delete m_robot;
    }
    RobotUse(const RobotUse&) = delete;
    RobotUse& operator=(const RobotUse&) = delete;

private:
    CRobotTool* m_robot;
};

// The worker reads the port pointers without the lock, so a robot object
// that is polling is stopped while its port changes and started again after.
template <typename Change>
void ChangePortWhileStopped(CRobotTool* robot, Change change) {
    const bool wasPolling = robot->IsPolling();
    if (wasPolling) robot->StopPolling();
    try {
        change();
    } catch (...) {
        if (wasPolling) robot->StartPolling();
        throw;
    }
    if (wasPolling) robot->StartPolling();
}
