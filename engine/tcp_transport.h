#pragma once
// The link over TCP: the socket's notifications fill the port's buffer and
// set its data event. Sending waits while the connection is down, and the
// connection is made again (at most once a second) so that a link the peer
// dropped recovers by itself; unread input is dropped when a command is
// abandoned.
#include "engine/link_transport.h"

class CTCPPort;

class TcpTransport : public LinkTransport {
public:
    static constexpr DWORD kReconnectIntervalMs = 1000;

    explicit TcpTransport(CTCPPort* port) : m_port(port), m_lastAttempt(GetTickCount()) {}

    bool WaitForData(HANDLE workEvent, unsigned int ms) override;
    int BytesWaiting() override;
    int ReadInto(unsigned char* dst, int count) override;
    bool AcceptsSending() override;
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool toolInfo, bool byteByByte) override;
    void DiscardInput() override;
    bool WriteRaw(const char* bytes, int count) override;

private:
    CTCPPort* m_port;
    DWORD m_lastAttempt;
};
