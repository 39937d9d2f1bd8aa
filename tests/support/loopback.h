#pragma once
// Loopback TCP for every test program, also those that do not link vornex.dll.
#include <winsock2.h>

#include <cstdint>
#include <vector>

namespace vxt {

// Winsock for this process, once: a test run alone may open its first socket here.
inline void StartSockets() {
    [[maybe_unused]] static const int started = [] { WSADATA data; return WSAStartup(MAKEWORD(2, 2), &data); }();
}

// A listening socket on 127.0.0.1 at a free port (INVALID_SOCKET, port -1 on failure).
inline SOCKET Listen(int& port) {
    StartSockets();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    port = -1;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s, 2) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return s;
}

// A loopback port nothing listens on (connections are refused).
inline int ClosedTcpPort() {
    int port = -1;
    SOCKET s = Listen(port);
    if (s != INVALID_SOCKET) closesocket(s);
    return port;
}

// Waits up to 5 s, dispatching nothing, until a message (a socket notification) is queued for this thread.
inline bool MessageQueued() {
    MSG msg;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE))
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) return true;
    return false;
}

inline bool SendAll(SOCKET socket, const std::vector<uint8_t>& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const int n = send(socket, reinterpret_cast<const char*>(bytes.data() + sent), static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace vxt
