#pragma once
// A plain Winsock client for talking to the simulator in tests, with
// bounded reads.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <vector>

namespace simtest {

class TcpClient {
public:
    explicit TcpClient(int port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        BOOL on = TRUE;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
    explicit TcpClient(SOCKET accepted) : m_socket(accepted), m_connected(true) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~TcpClient() {
        closesocket(m_socket);
        WSACleanup();
    }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Connected() const { return m_connected; }

    bool Send(const std::vector<uint8_t>& bytes) {
        size_t at = 0;
        while (at < bytes.size()) {
            const int n = send(m_socket, reinterpret_cast<const char*>(bytes.data() + at),
                               static_cast<int>(bytes.size() - at), 0);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }

    // Up to count bytes, waiting at most timeoutMs in all.
    std::vector<uint8_t> Read(size_t count, unsigned timeoutMs) {
        std::vector<uint8_t> out;
        const DWORD start = GetTickCount();
        while (out.size() < count && !m_closed) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs) break;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_socket, &readable);
            timeval tv;
            tv.tv_sec = 0;
            tv.tv_usec = static_cast<long>((timeoutMs - spent) > 100 ? 100000 : (timeoutMs - spent) * 1000);
            if (select(0, &readable, nullptr, nullptr, &tv) <= 0) continue;
            char buf[4096];
            const size_t want = count - out.size() < sizeof buf ? count - out.size() : sizeof buf;
            const int n = recv(m_socket, buf, static_cast<int>(want), 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    // Whether the other end closes the connection within timeoutMs.
    bool ClosedByPeer(unsigned timeoutMs) {
        Read(1 << 20, timeoutMs);
        return m_closed;
    }

private:
    SOCKET m_socket;
    bool m_connected = false;
    bool m_closed = false;
};

} // namespace simtest
