#pragma once
// Submitting commands and fetching their replies.
#include <oaidl.h>

#include "api/robot_handle.h"
#include "engine/vx_api.h"

VX_API long __stdcall ROBOT_SendCommand(RobotHandle robot, const wchar_t* text);
VX_API long __stdcall ROBOT_SendCommandBytes(RobotHandle robot, SAFEARRAY** bytes, long kind);
VX_API long __stdcall ROBOT_GetToolInfo(RobotHandle robot);
VX_API long __stdcall ROBOT_WriteToPort(RobotHandle robot, SAFEARRAY** bytes, long length);
VX_API CRobotCommand* __stdcall ROBOT_GetReply(RobotHandle robot, long id);
VX_API CRobotCommand* __stdcall ROBOT_WaitReply(RobotHandle robot, long id, unsigned long timeoutMs);
VX_API BOOL __stdcall ROBOT_DeleteReply(RobotHandle robot, long id);
VX_API long __stdcall ROBOT_GetReplyBytes(RobotHandle robot, long id, SAFEARRAY** reply);
VX_API long __stdcall ROBOT_WaitReplyBytes(RobotHandle robot, long id, unsigned long timeoutMs, SAFEARRAY** reply);
