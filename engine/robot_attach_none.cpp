// Until the ports are built into the library, no adapter can be made.
#include "engine/robot_base.h"

std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CSerialPort*) { return nullptr; }
std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CTCPPort*) { return nullptr; }
std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CFTDIPort*) { return nullptr; }
