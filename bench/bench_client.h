#pragma once
// A client of the simulated tool for the round-trip benchmark: vornex
// through its exports, or a bare client of the same link written the
// plainest way (blocking Winsock; WriteFile/ReadFile on the COM port;
// FT_Write/FT_Read on the D2XX library) as the yardstick.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "ports/d2xx.h"

namespace bench {

// The echo command both kinds of client send: 8 hex digits in a frame.
const wchar_t kCommandText[] = L"a1b2c3d4";

class Client {
public:
    virtual ~Client() {}
    virtual bool Open() = 0;
    // One command out and its whole reply back; false when that failed.
    virtual bool RoundTrip() = 0;
    virtual void Close() = 0;
};

class BareTcpClient : public Client {
public:
    BareTcpClient(int port, const std::vector<unsigned char>& frame) : m_port(port), m_frame(frame) {}
    bool Open() override {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        return connect(m_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    bool RoundTrip() override {
        if (send(m_socket, reinterpret_cast<const char*>(m_frame.data()), static_cast<int>(m_frame.size()), 0) <= 0)
            return false;
        char in[64];
        for (size_t got = 0; got < m_frame.size();) {
            const int r = recv(m_socket, in, static_cast<int>(m_frame.size() - got), 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    void Close() override {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }

private:
    int m_port;
    std::vector<unsigned char> m_frame;
    SOCKET m_socket = INVALID_SOCKET;
};

class BareComClient : public Client {
public:
    BareComClient(int com, const std::vector<unsigned char>& frame) : m_com(com), m_frame(frame) {}
    bool Open() override {
        const std::wstring name = L"\\\\.\\COM" + std::to_wstring(m_com);
        m_port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (m_port == INVALID_HANDLE_VALUE) return false;
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_port, &dcb);
        dcb.BaudRate = 38400, dcb.ByteSize = 8, dcb.Parity = NOPARITY, dcb.StopBits = ONESTOPBIT;
        SetCommState(m_port, &dcb);
        COMMTIMEOUTS t = {0, 0, 5000, 0, 5000};
        SetCommTimeouts(m_port, &t);
        PurgeComm(m_port, PURGE_RXCLEAR | PURGE_TXCLEAR);
        return true;
    }
    bool RoundTrip() override {
        DWORD n = 0;
        if (!WriteFile(m_port, m_frame.data(), static_cast<DWORD>(m_frame.size()), &n, nullptr)) return false;
        unsigned char in[64];
        for (DWORD got = 0; got < m_frame.size(); got += n)
            if (!ReadFile(m_port, in, static_cast<DWORD>(m_frame.size()) - got, &n, nullptr) || n == 0) return false;
        return true;
    }
    void Close() override {
        if (m_port != INVALID_HANDLE_VALUE) CloseHandle(m_port);
        m_port = INVALID_HANDLE_VALUE;
    }

private:
    int m_com;
    std::vector<unsigned char> m_frame;
    HANDLE m_port = INVALID_HANDLE_VALUE;
};

// On the D2XX library already loaded (the simulated Ftd2xx.dll), device 0.
class BareFtdiClient : public Client {
public:
    BareFtdiClient(HMODULE d2xx, const std::vector<unsigned char>& frame) : m_frame(frame) {
        Bind(d2xx, "FT_Open", m_open);
        Bind(d2xx, "FT_Close", m_close);
        Bind(d2xx, "FT_SetTimeouts", m_timeouts);
        Bind(d2xx, "FT_Read", m_read);
        Bind(d2xx, "FT_Write", m_write);
    }
    bool Open() override {
        if (!m_open || !m_close || !m_timeouts || !m_read || !m_write || m_open(0, &m_device) != 0) return false;
        return m_timeouts(m_device, 5000, 5000) == 0;
    }
    bool RoundTrip() override {
        DWORD n = 0;
        const DWORD size = static_cast<DWORD>(m_frame.size());
        if (m_write(m_device, m_frame.data(), size, &n) != 0 || n != size) return false;
        unsigned char in[64];  // FT_Read waits for the whole count
        return m_read(m_device, in, size, &n) == 0 && n == size;
    }
    void Close() override {
        if (m_device) m_close(m_device);
        m_device = nullptr;
    }

private:
    template <typename Fn> static void Bind(HMODULE d2xx, const char* name, Fn& fn) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(d2xx, name)));
    }
    std::vector<unsigned char> m_frame;
    d2xx::OpenFn m_open;
    d2xx::CloseFn m_close;
    d2xx::SetTimeoutsFn m_timeouts;
    d2xx::ReadFn m_read;
    d2xx::WriteFn m_write;
    FT_HANDLE m_device = nullptr;
};

} // namespace bench
