#include "ports/tcp_port.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "common/trace.h"
#include "framework/module_state.h"
#include "ports/library_app.h"

namespace {

bool IsConnectionLost(int error) {
    return error == WSAECONNABORTED || error == WSAECONNRESET || error == WSAENOTCONN;
}

std::string NarrowHost(const wchar_t* host) {
    std::string narrow;
    for (; *host; ++host) narrow.push_back(*host < 0x80 ? static_cast<char>(*host) : '?');
    return narrow;
}

} // namespace

CTCPPort::CTCPPort() : m_portNumber(0), m_attempts(0) {
    VX_MANAGE_STATE();
    m_hostName[0] = L'\0';
    GetLibraryApp();  // the socket layer is started with the application object
}

CTCPPort::~CTCPPort() { VX_MANAGE_STATE(); }

int CTCPPort::Open(const wchar_t* host, unsigned int port) {
    VX_MANAGE_STATE();
    CLockHold hold(*this);
    // Copied through a temporary: Open() passes the stored name itself.
    wchar_t name[kHostNameChars] = {};
    if (host) wcsncpy(name, host, kHostNameChars - 1);
    std::memcpy(m_hostName, name, sizeof(m_hostName));
    m_portNumber = port;
    StartAttempt();
    return 0;
}

int CTCPPort::Open() {
    VX_MANAGE_STATE();
    CLockHold hold(*this);
    StartAttempt();
    return 0;
}

void CTCPPort::StartAttempt() {
    ++m_attempts;
    Close();
    m_socket.SetConnecting(false);
    if (!m_socket.Create(0, SOCK_STREAM, CAsyncSocket::kAllEvents, nullptr)) return;
    const int noDelay = 1;
    m_socket.SetSockOpt(TCP_NODELAY, &noDelay, sizeof(noDelay), IPPROTO_TCP);
    // Marked before connecting: the outcome may be reported on the
    // notification thread before connect returns here. The name is looked up
    // again each time, so a tool that came back under a new address is found;
    // one that does not resolve makes no attempt and reports nothing.
    m_socket.SetConnecting(true);
    if (m_socket.Connect(m_hostName, m_portNumber)) {
        m_socket.SetConnecting(false);
        Trace("TCP port %s:%u connected.\n", NarrowHost(m_hostName).c_str(), m_portNumber);
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        Trace("Connection would block.\n");
    } else {
        m_socket.SetConnecting(false);
    }
}

unsigned int CTCPPort::GetAttemptCount() {
    VX_MANAGE_STATE();
    return m_attempts;
}

bool CTCPPort::IsConnecting() {
    VX_MANAGE_STATE();
    return m_socket.IsConnecting();
}

void CTCPPort::Close() {
    VX_MANAGE_STATE();
    CLockHold hold(*this);
    m_socket.ClearBuffer();
    if (m_socket.IsConnected()) {
        m_socket.Close();
        m_socket.SetConnected(false);
    }
}

bool CTCPPort::IsOpen() {
    VX_MANAGE_STATE();
    return m_socket.IsConnected();
}

int CTCPPort::BytesAvailable() {
    VX_MANAGE_STATE();
    return m_socket.BytesAvailable();
}

void CTCPPort::ClearBuffer() {
    VX_MANAGE_STATE();
    m_socket.ClearBuffer();
}

int CTCPPort::Read(char* buffer, int size) {
    VX_MANAGE_STATE();
    return m_socket.Read(buffer, size);
}

int CTCPPort::Write(const char* buffer, int size) {
    VX_MANAGE_STATE();
    if (!buffer || size <= 0) return 0;
    const int sent = m_socket.Send(buffer, size, 0);
    if (sent > 0) return sent;
    if (IsConnectionLost(WSAGetLastError())) Open();
    return 0;
}

HANDLE CTCPPort::GetDataEvent() {
    VX_MANAGE_STATE();
    return m_socket.GetDataEvent();
}

HANDLE CTCPPort::GetConnectEvent() {
    VX_MANAGE_STATE();
    return m_socket.GetConnectEvent();
}

const wchar_t* CTCPPort::GetHostName() {
    VX_MANAGE_STATE();
    return m_hostName;
}

unsigned int CTCPPort::GetPortNumber() {
    VX_MANAGE_STATE();
    return m_portNumber;
}
