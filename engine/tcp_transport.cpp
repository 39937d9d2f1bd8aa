#include "engine/tcp_transport.h"

#include "common/trace.h"
#include "engine/tick_source.h"

TcpTransport::TcpTransport(CTCPPort* port)
    : BufferedTransport<CTCPPort>(port), m_attempt(port->GetAttemptCount()), m_attemptStart(EngineTickCount()) {}

bool TcpTransport::AcceptsSending() {
    if (m_port->IsOpen()) return true;
    // Only a failing write would otherwise start a new connection, and no
    // write happens while sending is held: try again now and then.
    const uint32_t now = EngineTickCount();
    if (m_port->GetAttemptCount() != m_attempt) {
        m_attempt = m_port->GetAttemptCount();
        m_attemptStart = now;
    }
    const uint32_t age = now - m_attemptStart;
    if (age < (m_port->IsConnecting() ? kPendingLimitMs : kReconnectIntervalMs)) return false;
    // The log carries only the engine's own lines; this goes to the trace.
    Trace("Reconnecting to %ls:%u\n", m_port->GetHostName(), m_port->GetPortNumber());
    m_port->Open();
    m_attempt = m_port->GetAttemptCount();
    m_attemptStart = now;
    return false;
}
