#include "api/attach_exports.h"

#include <new>

#include "api/ftdi_exports.h"
#include "api/message_wait.h"
#include "api/robot_registry.h"
#include "framework/module_state.h"
#include "ports/ftdi_port.h"
#include "ports/serial_port.h"
#include "ports/tcp_port.h"

namespace {

constexpr unsigned int kLinkBaudRate = 38400;

// A new port object that setUp opened (and attached), or null: when setUp
// says no, or when memory runs out (the constructors allocate the buffers
// with throwing new), which leaves the robot object as it was.
template <typename Port, typename SetUp>
Port* NewPort(SetUp setUp) {
    Port* port = nullptr;
    try {
        port = new Port();
        if (setUp(*port)) return port;
    } catch (const std::bad_alloc&) {
    } catch (...) {
        delete port;  // a text the host passed could not be copied: the caller's exception
        throw;
    }
    delete port;
    return nullptr;
}

template <typename Open>
PortHandle AttachFtdi(RobotHandle handle, Open open) {
    CRobotTool* robot = RobotFromHandle(handle);
    if (!robot) return nullptr;
    return NewPort<CFTDIPort>([&](CFTDIPort& port) {
        if (!open(port)) return false;
        ChangePortWhileStopped(robot, [&] { robot->AttachFTDIPort(&port); });
        return true;
    });
}

} // namespace

PortHandle __stdcall ROBOT_AttachSerialPort(RobotHandle handle, int comPort) {
    VX_MANAGE_STATE();
    CRobotTool* robot = RobotFromHandle(handle);
    if (!robot) return nullptr;
    CSerialPort* port = NewPort<CSerialPort>([&](CSerialPort& opened) {
        if (opened.Open(static_cast<unsigned int>(comPort), kLinkBaudRate) != 0) return false;
        ChangePortWhileStopped(robot, [&] { robot->AttachSerialPort(&opened); });
        return true;
    });
    if (port) port->StartPolling();
    return port;
}

BOOL __stdcall ReleaseSerialPort(PortHandle port) {
    VX_MANAGE_STATE();
    if (!port) return false;
    DetachPortFromRobots(port);
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
    DetachPortFromRobots(handle);
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
    RobotUse use(robot);
    return NewPort<CTCPPort>([&](CTCPPort& port) {
        HANDLE connected = port.GetConnectEvent();
        port.Open(host ? host : L"", tcpPort);
        if (connectMs == 0) return true;  // not attached: the host waits its own way
        // A message dispatched here may destroy the robot object or attach
        // another port to it: the robot is no longer the one to attach to.
        const LONG generation = robot->GetLinkGeneration();
        const DWORD start = GetTickCount();
        for (;;) {
            if (!PumpPendingMessages()) return false;  // the quit message ends the wait
            if (robot->GetLinkGeneration() != generation) return false;
            const DWORD spent = GetTickCount() - start;
            const bool deadline = spent >= connectMs;
            // The notifications come as messages: wake when one is queued or
            // the attempt has reported its outcome (set while they ran). At
            // the deadline the event is tested once more, after the last
            // dispatch, so a connection reported at the last moment counts.
            const DWORD woke = MsgWaitForMultipleObjectsEx(1, &connected, deadline ? 0 : connectMs - spent,
                                                           QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0 && port.IsOpen()) {
                ChangePortWhileStopped(robot, [&] { robot->AttachTcpPort(&port); });
                return true;
            }
            if (deadline) return false;
        }
    });
}

BOOL __stdcall ReleaseTcpPort(PortHandle port) {
    VX_MANAGE_STATE();
    if (!port) return false;
    DetachPortFromRobots(port);
    delete static_cast<CTCPPort*>(port);
    return true;
}
