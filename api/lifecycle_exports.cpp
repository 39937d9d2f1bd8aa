#include "api/lifecycle_exports.h"

#include <fstream>
#include <new>

#include "framework/module_state.h"

RobotHandle __stdcall ROBOT_Create() {
    VX_MANAGE_STATE();
    // The constructors allocate the receive buffer and the queues with
    // throwing new; running out of memory or handles gives no robot.
    CRobotTool* tool = nullptr;
    try {
        tool = new CRobotTool();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!tool->HasWorkEvent()) {
        delete tool;
        return nullptr;
    }
    return tool;
}

BOOL __stdcall ROBOT_Destroy(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return false;
    tool->StopPolling();
    tool->ReleaseWaiters();
    delete tool;
    return true;
}

BOOL __stdcall ROBOT_StartPolling(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->StartPolling() : false;
}

void __stdcall ROBOT_StopPolling(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return;
    tool->StopPolling();
    tool->CloseLog();
}

void __stdcall ROBOT_StartLogging(RobotHandle robot, const char* path) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return;
    // A file that cannot be opened leaves the stream failed: lines are dropped.
    // A stream that cannot be made (no memory for it or its buffer) leaves
    // logging off.
    std::ofstream* log = nullptr;
    try {
        log = new std::ofstream();
        if (path) log->open(path, std::ios::out | std::ios::trunc);
        else log->setstate(std::ios::failbit);
    } catch (const std::bad_alloc&) {
        delete log;
        log = nullptr;
    }
    tool->SetLog(log);
}

BOOL __stdcall ROBOT_IsIdle(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? !tool->IsBusy() : false;
}

void __stdcall ROBOT_SetTimeout(RobotHandle robot, unsigned int ms) {
    VX_MANAGE_STATE();
    if (CRobotTool* tool = RobotFromHandle(robot)) tool->SetTimeout(ms);
}

void __stdcall ROBOT_SetKeepAlive(RobotHandle robot, int on) {
    VX_MANAGE_STATE();
    if (CRobotTool* tool = RobotFromHandle(robot)) tool->SetKeepAlive(on != 0);
}
