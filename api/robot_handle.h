#pragma once
// A robot handle is the address of the robot object the host created.
#include "engine/robot_tool.h"

typedef void* RobotHandle;

inline CRobotTool* RobotFromHandle(RobotHandle handle) { return static_cast<CRobotTool*>(handle); }
