#pragma once
// Plain blocking loopback sockets for the far end of a link under test: a
// listener on 127.0.0.1, a client, and exact reads with a time limit.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

class WinsockSession {
public:
    WinsockSession() { WSAStartup(MAKEWORD(2, 2), &m_data); }
    ~WinsockSession() { WSACleanup(); }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    WSADATA m_data;
};

// One connected stream socket, closed with the object.
class PeerSocket {
public:
    PeerSocket() = default;
    explicit PeerSocket(SOCKET s) : m_socket(s) {}
    ~PeerSocket() { Close(); }
    PeerSocket(PeerSocket&& other) noexcept : m_socket(other.m_socket) { other.m_socket = INVALID_SOCKET; }
    PeerSocket& operator=(PeerSocket&& other) noexcept {
        if (this != &other) {
            Close();
            m_socket = other.m_socket;
            other.m_socket = INVALID_SOCKET;
        }
        return *this;
    }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    bool Valid() const { return m_socket != INVALID_SOCKET; }
    void Close() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }

    // Connects to 127.0.0.1:port within ms.
    static PeerSocket ConnectTo(unsigned short port, DWORD ms = 5000) {
        const DWORD start = GetTickCount();
        do {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in to = Loopback(port);
            if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
                const int one = 1;
                setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
                return PeerSocket(s);
            }
            closesocket(s);
            Sleep(20);
        } while (GetTickCount() - start < ms);
        return PeerSocket();
    }

    bool SendAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const int n = send(m_socket, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until count bytes have come or ms have passed; returns what came.
    std::string ReceiveExactly(size_t count, DWORD ms = 5000) {
        std::string got;
        const DWORD start = GetTickCount();
        while (got.size() < count) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= ms) break;
            if (!WaitReadable(ms - elapsed)) break;
            char buffer[4096];
            const size_t want = count - got.size() < sizeof(buffer) ? count - got.size() : sizeof(buffer);
            const int n = recv(m_socket, buffer, static_cast<int>(want), 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // Whatever arrives within ms (for checking that nothing does).
    std::string ReceiveAny(DWORD ms) {
        if (!WaitReadable(ms)) return std::string();
        char buffer[4096];
        const int n = recv(m_socket, buffer, sizeof(buffer), 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

    bool WaitReadable(DWORD ms) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval limit = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        return select(0, &readable, nullptr, nullptr, &limit) == 1;
    }

    static sockaddr_in Loopback(unsigned short port) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

// A listening socket on 127.0.0.1 (port 0 picks a free one).
class PeerListener {
public:
    explicit PeerListener(unsigned short port = 0) { Listen(port); }
    ~PeerListener() { Close(); }
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    bool Listen(unsigned short port) {
        Close();
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const int one = 1;
        setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
        sockaddr_in address = PeerSocket::Loopback(port);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(m_socket, 4) != 0) {
            Close();
            return false;
        }
        int length = sizeof(address);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        return true;
    }
    void Close() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    bool Valid() const { return m_socket != INVALID_SOCKET; }
    unsigned short Port() const { return m_port; }

    // The next incoming connection, or an invalid socket after ms.
    PeerSocket Accept(DWORD ms = 5000) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval limit = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        if (select(0, &readable, nullptr, nullptr, &limit) != 1) return PeerSocket();
        return PeerSocket(accept(m_socket, nullptr, nullptr));
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    unsigned short m_port = 0;
};

// A byte pattern that shows order and loss: byte i is (seed + i * 7) mod 256.
inline std::string Pattern(size_t count, unsigned char seed = 0) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(static_cast<unsigned char>(seed + i * 7));
    return bytes;
}
