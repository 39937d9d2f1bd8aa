#pragma once
// The link over TCP: the socket's notifications fill the port's buffer and
// set its data event. Sending waits while the connection is down, and the
// connection is made again (at most once a second) so that a link the peer
// dropped recovers by itself; unread input is dropped when a command is
// abandoned.
#include "engine/buffered_transport.h"
#include "ports/tcp_port.h"

inline HANDLE DataEventOf(CTCPPort* port) { return port->GetDataEvent(); }

class TcpTransport : public BufferedTransport<CTCPPort> {
public:
    static constexpr DWORD kReconnectIntervalMs = 1000;

    explicit TcpTransport(CTCPPort* port) : BufferedTransport<CTCPPort>(port), m_lastAttempt(GetTickCount()) {}

    bool AcceptsSending() override;
    void DiscardInput() override { m_port->ClearBuffer(); }

private:
    DWORD m_lastAttempt;
};
