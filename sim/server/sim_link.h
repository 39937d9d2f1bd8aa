#pragma once
// One byte stream between the simulated tool and a host: a TCP connection or
// a COM port. The server's thread is the only user of a link.
#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace vxsim {

class SimLink {
public:
    virtual ~SimLink() {}
    // Waits up to waitMs for bytes; returns the count read, 0 when none came,
    // -1 when the link is gone.
    virtual int Read(uint8_t* buffer, int size, int waitMs) = 0;
    virtual bool Write(const uint8_t* data, size_t count) = 0;
};

class TcpLink : public SimLink {
public:
    explicit TcpLink(SOCKET socket);
    ~TcpLink() override;
    int Read(uint8_t* buffer, int size, int waitMs) override;
    bool Write(const uint8_t* data, size_t count) override;

private:
    SOCKET m_socket;
};

class ComLink : public SimLink {
public:
    // Opens \\.\COMn at 38400 baud, 8 data bits, no parity, one stop bit;
    // null when the port cannot be opened or set up.
    static ComLink* Open(int number);
    ~ComLink() override;
    int Read(uint8_t* buffer, int size, int waitMs) override;
    bool Write(const uint8_t* data, size_t count) override;

private:
    explicit ComLink(HANDLE handle) : m_handle(handle) {}
    HANDLE m_handle;
    int m_waitMs = -1;
};

} // namespace vxsim
