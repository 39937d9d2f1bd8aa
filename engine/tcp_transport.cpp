#include "engine/tcp_transport.h"

#include "ports/tcp_port.h"

bool TcpTransport::WaitForData(HANDLE workEvent, unsigned int ms) {
    HANDLE events[2] = {m_port->GetDataEvent(), workEvent};
    if (events[0]) WaitForMultipleObjects(2, events, FALSE, ms);
    return m_port->BytesAvailable() != 0;
}

int TcpTransport::BytesWaiting() { return m_port->BytesAvailable(); }

int TcpTransport::ReadInto(unsigned char* dst, int count) {
    return m_port->Read(reinterpret_cast<char*>(dst), count);
}

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

unsigned long TcpTransport::WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool) {
    if (toolInfo) {
        std::vector<unsigned char> preamble = ToolInfoPreamble();
        m_port->Write(reinterpret_cast<char*>(preamble.data()), static_cast<int>(preamble.size()));
    }
    std::vector<unsigned char> frame(bytes);
    if (!frame.empty()) m_port->Write(reinterpret_cast<char*>(frame.data()), static_cast<int>(frame.size()));
    return 0;
}

void TcpTransport::DiscardInput() { m_port->ClearBuffer(); }

bool TcpTransport::WriteRaw(const char* bytes, int count) {
    return m_port->Write(bytes, count) == count;
}
