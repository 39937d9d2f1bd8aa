#include "engine/tcp_transport.h"

bool TcpTransport::AcceptsSending() {
    if (m_port->IsOpen()) return true;
    // Only a failing write would otherwise start a new connection, and no
    // write happens while sending is held: try again now and then.
    const DWORD now = GetTickCount();
    if (now - m_lastAttempt >= kReconnectIntervalMs) {
        m_lastAttempt = now;
        m_port->Open();
    }
    return false;
}
