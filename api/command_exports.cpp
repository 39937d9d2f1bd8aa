#include "api/command_exports.h"

#include "framework/module_state.h"

long __stdcall ROBOT_SendCommand(RobotHandle robot, const wchar_t* text) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    return tool->Issue(CString(text), eStandard, false, false);
}

CRobotCommand* __stdcall ROBOT_GetReply(RobotHandle robot, long id) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->FindReply(static_cast<int>(id)) : nullptr;
}

CRobotCommand* __stdcall ROBOT_WaitReply(RobotHandle robot, long id, unsigned long timeoutMs) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->WaitReply(static_cast<int>(id), static_cast<unsigned int>(timeoutMs)) : nullptr;
}

bool __stdcall ROBOT_DeleteReply(RobotHandle robot, long id) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->DeleteReply(static_cast<int>(id)) : false;
}
