#pragma once
// The link over TCP: the socket's notifications fill the port's buffer and
// set its data event. Sending waits while the connection is down, and the
// connection is made again (at most once a second, each attempt logged) so
// that a link the peer dropped recovers by itself; an attempt still under way
// is left to finish, however slow its handshake. Unread input is dropped
// when a command is abandoned.
#include "engine/buffered_transport.h"
#include "ports/tcp_port.h"

inline HANDLE DataEventOf(CTCPPort* port) { return port->GetDataEvent(); }

class TcpTransport : public BufferedTransport<CTCPPort> {
public:
    static constexpr DWORD kReconnectIntervalMs = 1000;
    // An attempt that has reported nothing for this long is given up for a
    // new one (a peer that drops every handshake packet).
    static constexpr DWORD kPendingLimitMs = 30000;

    TcpTransport(CTCPPort* port, LinkLog& log)
        : BufferedTransport<CTCPPort>(port), m_log(log), m_lastAttempt(GetTickCount()) {}

    bool AcceptsSending() override;
    void DiscardInput() override { m_port->ClearBuffer(); }

private:
    LinkLog& m_log;
    DWORD m_lastAttempt;
};
