#include "api/lifecycle_exports.h"

#include <new>

#include "engine/log_file.h"
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
    // A file that cannot be opened (or no path) gives a silent log: lines are
    // dropped. No memory for the log object leaves logging off.
    tool->SetLog(new (std::nothrow) CLogFile(path));
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
