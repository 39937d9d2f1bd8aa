#pragma once
// A tool reached over TCP. The connection is made asynchronously: Open starts
// it and the outcome arrives through the connect event and IsOpen. Received
// bytes reach the 1024-byte buffer through the socket's notifications, which
// run on the thread that created the socket when it dispatches its messages.
#include <windows.h>

#include "common/lockable.h"
#include "engine/vx_api.h"
#include "ports/tcp_socket.h"

class VX_API CTCPPort : public CLockable {
public:
    // Room for the host name, terminator included; longer names are cut.
    static constexpr int kHostNameChars = 260;

    CTCPPort();
    virtual ~CTCPPort();
    CTCPPort(const CTCPPort&) = delete;
    CTCPPort& operator=(const CTCPPort&) = delete;

    // Stores host (dotted IPv4 address or name) and port, drops the previous
    // connection and starts connecting. Always 0.
    int Open(const wchar_t* host, unsigned int port);
    // Connects again to the stored host and port, looking the name up again.
    // Always 0.
    int Open();
    // A connection attempt is under way and has not reported its outcome.
    bool IsConnecting();
    // How many attempts were started (by Open, or by a Write that found the
    // connection lost), a name that did not resolve included.
    unsigned int GetAttemptCount();
    // Empties the buffer; a connected socket is closed and stops counting as open.
    void Close();
    bool IsOpen();
    int BytesAvailable();
    void ClearBuffer();
    // Copies and removes up to size buffered bytes, oldest first; never waits.
    int Read(char* buffer, int size);
    // Sends at once: the count sent, or 0. A connection found lost starts a
    // new connection attempt to the stored host and port.
    int Write(const char* buffer, int size);
    // Auto-reset events the port owns: bytes were received; a connection
    // attempt ended (successfully or not).
    HANDLE GetDataEvent();
    HANDLE GetConnectEvent();
    const wchar_t* GetHostName();
    unsigned int GetPortNumber();

protected:
    CTCPSocket m_socket;
    wchar_t m_hostName[kHostNameChars];
    unsigned int m_portNumber;

private:
    // Drops the previous connection and starts connecting to the stored host.
    void StartAttempt();

    volatile unsigned int m_attempts;
};
