#pragma once
// The link over TCP: the socket's notifications fill the port's buffer and
// set its data event. Nothing is sent while the connection is down, and the
// connection is made again (one attempt at a time, at most once a second) so
// that a link the peer dropped recovers by itself; an attempt still under way
// is left to finish, however slow its handshake. Unread input is dropped
// when a command is abandoned.
#include "engine/buffered_transport.h"
#include "ports/tcp_port.h"

inline HANDLE DataEventOf(CTCPPort* port) { return port->GetDataEvent(); }

class TcpTransport : public BufferedTransport<CTCPPort> {
public:
    static constexpr uint32_t kReconnectIntervalMs = 1000;
    // An attempt that has reported nothing for this long is given up for a
    // new one (a peer that drops every handshake packet).
    static constexpr uint32_t kPendingLimitMs = 30000;

    explicit TcpTransport(CTCPPort* port);

    bool AcceptsSending() override;
    void DiscardInput() override { m_port->ClearBuffer(); }

private:
    // The port's latest attempt and when this link first saw it: an attempt
    // the port started by itself (a write that found the connection lost)
    // counts from then.
    unsigned int m_attempt;
    uint32_t m_attemptStart;
};
