#include "api/lifecycle_exports.h"

#include <fstream>
#include <new>

#include "framework/module_state.h"

RobotHandle __stdcall ROBOT_Create() {
    VX_MANAGE_STATE();
    return new (std::nothrow) CRobotTool();
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
    std::ofstream* log = new (std::nothrow) std::ofstream();
    if (log && path) log->open(path, std::ios::out | std::ios::trunc);
    else if (log) log->setstate(std::ios::failbit);
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
