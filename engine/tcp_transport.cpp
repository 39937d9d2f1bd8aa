#include "engine/tcp_transport.h"

#include <string>

#include "engine/log_text.h"

bool TcpTransport::AcceptsSending() {
    if (m_port->IsOpen()) return true;
    // Only a failing write would otherwise start a new connection, and no
    // write happens while sending is held: try again now and then.
    const DWORD now = GetTickCount();
    const DWORD since = now - m_lastAttempt;
    if (m_port->IsConnecting() && since < kPendingLimitMs) return false;
    if (since >= kReconnectIntervalMs) {
        m_lastAttempt = now;
        m_log.WriteLog("****Reconnecting to " + NarrowLogText(CString(m_port->GetHostName())) + ":" +
                       std::to_string(m_port->GetPortNumber()));
        m_port->Open();
    }
    return false;
}
