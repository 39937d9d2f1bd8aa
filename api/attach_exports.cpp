#include "api/attach_exports.h"

#include <new>

#include "api/ftdi_exports.h"
#include "api/message_wait.h"
#include "framework/module_state.h"
#include "ports/ftdi_port.h"
#include "ports/serial_port.h"
#include "ports/tcp_port.h"

namespace {

constexpr unsigned int kLinkBaudRate = 38400;

// The worker reads the port pointers without the lock, so a robot object
// that is polling is stopped while its port changes and started again after.
template <typename Attach>
void AttachWhileStopped(CRobotTool* robot, Attach attach) {
    const bool wasPolling = robot->IsPolling();
    if (wasPolling) robot->StopPolling();
    attach();
    if (wasPolling) robot->StartPolling();
}

template <typename Open>
PortHandle AttachFtdi(RobotHandle handle, Open open) {
    CRobotTool* robot = RobotFromHandle(handle);
    if (!robot) return nullptr;
    CFTDIPort* port = new (std::nothrow) CFTDIPort();
    if (!port) return nullptr;
    if (!open(*port)) {
        delete port;
        return nullptr;
    }
    AttachWhileStopped(robot, [&] { robot->AttachFTDIPort(port); });
    return port;
}

} // namespace

PortHandle __stdcall ROBOT_AttachSerialPort(RobotHandle handle, int comPort) {
    VX_MANAGE_STATE();
    CRobotTool* robot = RobotFromHandle(handle);
    if (!robot) return nullptr;
    CSerialPort* port = new (std::nothrow) CSerialPort();
    if (!port) return nullptr;
    if (port->Open(static_cast<unsigned int>(comPort), kLinkBaudRate) != 0) {
        delete port;
        return nullptr;
    }
    AttachWhileStopped(robot, [&] { robot->AttachSerialPort(port); });
    port->StartPolling();
    return port;
}

BOOL __stdcall ReleaseSerialPort(PortHandle port) {
    VX_MANAGE_STATE();
    if (!port) return false;
    delete static_cast<CSerialPort*>(port);
    return true;
}

PortHandle __stdcall ROBOT_AttachFTDIDevice(RobotHandle robot, const wchar_t* description) {
    VX_MANAGE_STATE();
    return AttachFtdi(robot, [&](CFTDIPort& port) { return OpenFTDIDevice(port, description); });
}

PortHandle __stdcall ROBOT_AttachFTDIDeviceByLoc(RobotHandle robot, unsigned long location) {
    VX_MANAGE_STATE();
    return AttachFtdi(robot, [&](CFTDIPort& port) { return OpenFTDIDeviceByLoc(port, location); });
}

PortHandle __stdcall ROBOT_AttachFTDIDeviceByIndex(RobotHandle robot, unsigned long index) {
    VX_MANAGE_STATE();
    return AttachFtdi(robot, [&](CFTDIPort& port) { return OpenFTDIDeviceByIndex(port, index); });
}

BOOL __stdcall ReleaseFTDIDevice(PortHandle handle) {
    VX_MANAGE_STATE();
    if (!handle) return false;
    CFTDIPort* port = static_cast<CFTDIPort*>(handle);
    port->Close();
    delete port;
    return true;
}

PortHandle __stdcall ROBOT_AttachTcpPort(RobotHandle handle, const wchar_t* host, unsigned int tcpPort,
                                         unsigned int connectMs) {
    VX_MANAGE_STATE();
    CRobotTool* robot = RobotFromHandle(handle);
    if (!robot) return nullptr;
    CTCPPort* port = new (std::nothrow) CTCPPort();
    if (!port) return nullptr;
    HANDLE connected = port->GetConnectEvent();
    port->Open(host ? host : L"", tcpPort);
    if (connectMs == 0) return port;  // not attached: the host waits its own way

    const DWORD start = GetTickCount();
    while (GetTickCount() - start < connectMs) {
        if (!PumpPendingMessages()) break;  // the quit message ends the wait
        if (WaitForSingleObject(connected, 0) == WAIT_OBJECT_0 && port->IsOpen()) {
            AttachWhileStopped(robot, [&] { robot->AttachTcpPort(port); });
            return port;
        }
        // The notifications come as messages: sleep until one is queued (or
        // a moment passes) instead of spinning a processor. Not on the
        // connect event itself: it resets when a wait takes it.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    delete port;
    return nullptr;
}

BOOL __stdcall ReleaseTcpPort(PortHandle port) {
    VX_MANAGE_STATE();
    if (!port) return false;
    delete static_cast<CTCPPort*>(port);
    return true;
}
