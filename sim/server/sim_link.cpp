#include "sim/server/sim_link.h"

#include <cstdio>

namespace vxsim {

TcpLink::TcpLink(SOCKET socket) : m_socket(socket) {
    BOOL noDelay = TRUE;
    setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
}

TcpLink::~TcpLink() {
    closesocket(m_socket);
}

int TcpLink::Read(uint8_t* buffer, int size, int waitMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval tv;
    tv.tv_sec = waitMs / 1000;
    tv.tv_usec = (waitMs % 1000) * 1000;
    const int ready = select(0, &readable, nullptr, nullptr, &tv);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    const int n = recv(m_socket, reinterpret_cast<char*>(buffer), size, 0);
    return n > 0 ? n : -1;
}

bool TcpLink::Write(const uint8_t* data, size_t count) {
    while (count > 0) {
        const int n = send(m_socket, reinterpret_cast<const char*>(data), static_cast<int>(count), 0);
        if (n <= 0) return false;
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

ComLink* ComLink::Open(int number) {
    if (number < 1 || number > 255) return nullptr;
    wchar_t path[32];
    swprintf(path, 32, L"\\\\.\\COM%d", number);
    HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        return nullptr;
    }
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!SetCommState(h, &dcb)) {
        CloseHandle(h);
        return nullptr;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return new ComLink(h);
}

ComLink::~ComLink() {
    CloseHandle(m_handle);
}

int ComLink::Read(uint8_t* buffer, int size, int waitMs) {
    if (waitMs != m_waitMs) {
        // Return at once with whatever is waiting, or wait up to waitMs for
        // the first byte.
        COMMTIMEOUTS t;
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = waitMs > 0 ? static_cast<DWORD>(waitMs) : 1;
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = 5000;
        if (!SetCommTimeouts(m_handle, &t)) return -1;
        m_waitMs = waitMs;
    }
    DWORD got = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<int>(got);
}

bool ComLink::Write(const uint8_t* data, size_t count) {
    DWORD written = 0;
    return WriteFile(m_handle, data, static_cast<DWORD>(count), &written, nullptr) && written == count;
}

} // namespace vxsim
