#pragma once
// Attaching a port to a robot object, and releasing ports. The host owns the
// port objects; a robot object never deletes one.
#include "api/robot_handle.h"
#include "engine/vx_api.h"

typedef void* PortHandle;

VX_API PortHandle __stdcall ROBOT_AttachSerialPort(RobotHandle robot, int comPort);
VX_API BOOL __stdcall ReleaseSerialPort(PortHandle port);
VX_API PortHandle __stdcall ROBOT_AttachFTDIDevice(RobotHandle robot, const wchar_t* description);
VX_API PortHandle __stdcall ROBOT_AttachFTDIDeviceByLoc(RobotHandle robot, unsigned long location);
VX_API PortHandle __stdcall ROBOT_AttachFTDIDeviceByIndex(RobotHandle robot, unsigned long index);
VX_API BOOL __stdcall ReleaseFTDIDevice(PortHandle port);
VX_API PortHandle __stdcall ROBOT_AttachTcpPort(RobotHandle robot, const wchar_t* host, unsigned int tcpPort,
                                              unsigned int connectMs);
VX_API BOOL __stdcall ReleaseTcpPort(PortHandle port);
