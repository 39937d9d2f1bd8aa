#pragma once
// The TCP port's connection: an event-driven socket whose notifications fill
// a 1024-byte receive buffer, keep the connected flag and set the data and
// connect events.
#include "common/lockable.h"
#include "framework/async_socket.h"

class CTCPSocket : public CAsyncSocket, public CLockable {
public:
    static constexpr int kBufferSize = 1024;

    CTCPSocket();
    ~CTCPSocket() override;

    // Copies and removes up to size buffered bytes, oldest first; never waits.
    int Read(char* buffer, int size);
    // Empties the buffer and zero-fills it.
    void ClearBuffer();
    int BytesAvailable() const { return m_count; }
    bool IsConnected() const { return m_connected; }
    void SetConnected(bool connected) { m_connected = connected; }
    // A connection attempt was started and has not reported its outcome.
    bool IsConnecting() const { return m_connecting; }
    void SetConnecting(bool connecting) { m_connecting = connecting; }
    HANDLE GetDataEvent() const { return m_dataEvent; }
    HANDLE GetConnectEvent() const { return m_connectEvent; }

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;

private:
    // After taking bytes out: data the socket held back while the buffer was
    // full gets a fresh read notification.
    void ResumeReceiving();

    HANDLE m_dataEvent;
    HANDLE m_connectEvent;
    char* m_buffer;
    volatile int m_count;
    volatile bool m_connected;
    // A read notification found the buffer full and left the data queued.
    volatile bool m_receiveHeldBack;
    volatile bool m_connecting;
};
