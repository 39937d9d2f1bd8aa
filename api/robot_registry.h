#pragma once
// The robot objects the host has created and not yet destroyed, so that a
// port released while a robot object still uses it is taken from that
// robot object first instead of being used after it is gone.
#include "engine/robot_tool.h"

// False when memory ran out: the robot object cannot be handed out.
bool RegisterRobot(CRobotTool* robot);
void UnregisterRobot(CRobotTool* robot);
// Detaches port (any kind) from every robot object that uses it, stopping
// and restarting a polling worker around the change.
void DetachPortFromRobots(const void* port);
