#include "framework/async_socket.h"

#include <ws2tcpip.h>

#include <cwchar>
#include <string>

#include "framework/socket_notifier.h"

namespace {

// Longest name the resolver is asked about; a DNS name cannot be longer.
constexpr size_t kMaxHostName = 255;

std::string NarrowText(const wchar_t* text) {
    if (!text || !*text) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

// A dotted IPv4 address as is, else the first IPv4 address the name resolves
// to. False (WSAEINVAL) for an empty, overlong or unknown name.
bool ResolveIPv4(const wchar_t* host, in_addr& address) {
    const std::string name = NarrowText(host);
    if (name.empty() || name.size() > kMaxHostName) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    const unsigned long dotted = inet_addr(name.c_str());
    if (dotted != INADDR_NONE || name == "255.255.255.255") {
        address.s_addr = dotted;
        return true;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

} // namespace

CAsyncSocket::CAsyncSocket() : m_hSocket(INVALID_SOCKET), m_notifyWindow(nullptr), m_notifyMessage(0) {}

CAsyncSocket::~CAsyncSocket() { Close(); }

bool CAsyncSocket::Create(unsigned int localPort, int type, long events, const wchar_t* localAddress) {
    Close();
    if (!m_notifyWindow || !IsWindow(m_notifyWindow)) m_notifyWindow = CSocketNotifier::WindowOfThisThread();
    if (!m_notifyWindow) {
        WSASetLastError(WSAENOBUFS);
        return false;
    }
    const SOCKET socket = ::socket(AF_INET, type, 0);
    if (socket == INVALID_SOCKET) return false;
    m_hSocket = socket;

    const UINT message = CSocketNotifier::Register(socket, this);
    if (message == 0 || WSAAsyncSelect(socket, m_notifyWindow, message, events) == SOCKET_ERROR) {
        const int error = message == 0 ? WSAENOBUFS : WSAGetLastError();
        Close();
        WSASetLastError(error);
        return false;
    }
    m_notifyMessage = message;

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(localPort));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (localAddress && *localAddress && !ResolveIPv4(localAddress, local.sin_addr)) {
        Close();
        WSASetLastError(WSAEINVAL);
        return false;
    }
    if (bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        Close();
        WSASetLastError(error);
        return false;
    }
    return true;
}

bool CAsyncSocket::Connect(const wchar_t* host, unsigned int port) {
    sockaddr_in remote = {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<u_short>(port));
    if (!ResolveIPv4(host, remote.sin_addr)) return false;
    return connect(m_hSocket, reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != SOCKET_ERROR;
}

int CAsyncSocket::Send(const void* data, int length, int flags) {
    return send(m_hSocket, static_cast<const char*>(data), length, flags);
}

int CAsyncSocket::Receive(void* data, int length, int flags) {
    return recv(m_hSocket, static_cast<char*>(data), length, flags);
}

bool CAsyncSocket::SetSockOpt(int option, const void* value, int length, int level) {
    return setsockopt(m_hSocket, level, option, static_cast<const char*>(value), length) != SOCKET_ERROR;
}

void CAsyncSocket::Close() {
    const SOCKET socket = m_hSocket;
    if (socket == INVALID_SOCKET) return;
    CSocketNotifier::Unregister(socket);
    m_hSocket = INVALID_SOCKET;
    m_notifyMessage = 0;
    closesocket(socket);
}

bool CAsyncSocket::RequestReceiveNotification() {
    if (m_hSocket == INVALID_SOCKET || !m_notifyMessage) return false;
    return PostMessageW(m_notifyWindow, m_notifyMessage, static_cast<WPARAM>(m_hSocket),
                        WSAMAKESELECTREPLY(FD_READ, 0)) != FALSE;
}

void CAsyncSocket::Dispatch(long event, int error) {
    switch (event) {
    case FD_READ: OnReceive(error); break;
    case FD_WRITE: OnSend(error); break;
    case FD_OOB: OnOutOfBandData(error); break;
    case FD_ACCEPT: OnAccept(error); break;
    case FD_CONNECT: OnConnect(error); break;
    case FD_CLOSE: OnClose(error); break;
    default: break;
    }
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
