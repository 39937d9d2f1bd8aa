// The adapter for each kind of port, made when the port is attached.
#include "engine/ftdi_transport.h"
#include "engine/robot_base.h"
#include "engine/serial_transport.h"
#include "engine/tcp_transport.h"
#include "ports/ftdi_port.h"

namespace {
constexpr DWORD kFtEventRxChar = 1;
} // namespace

std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CSerialPort* port) {
    return std::unique_ptr<LinkTransport>(new SerialTransport(port));
}

std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CTCPPort* port) {
    return std::unique_ptr<LinkTransport>(new TcpTransport(port));
}

std::unique_ptr<LinkTransport> CRobotBase::MakeTransport(CFTDIPort* port, HANDLE rxEvent) {
    std::unique_ptr<LinkTransport> transport(new FtdiTransport(port, rxEvent, *this));
    // The driver signals the receive event whenever characters arrive; the
    // poll cycle waits on it.
    if (rxEvent) port->SetEventNotification(kFtEventRxChar, rxEvent);
    return transport;
}
