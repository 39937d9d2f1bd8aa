#pragma once
// Creating, running and destroying robot objects.
#include "api/robot_handle.h"
#include "engine/vx_api.h"

VX_API RobotHandle __stdcall ROBOT_Create();
VX_API BOOL __stdcall ROBOT_Destroy(RobotHandle robot);
VX_API BOOL __stdcall ROBOT_StartPolling(RobotHandle robot);
VX_API void __stdcall ROBOT_StopPolling(RobotHandle robot);
VX_API void __stdcall ROBOT_StartLogging(RobotHandle robot, const char* path);
VX_API BOOL __stdcall ROBOT_IsIdle(RobotHandle robot);
VX_API void __stdcall ROBOT_SetTimeout(RobotHandle robot, unsigned int ms);
VX_API void __stdcall ROBOT_SetKeepAlive(RobotHandle robot, int on);
