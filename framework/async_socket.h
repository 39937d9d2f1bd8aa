#pragma once
// An event-driven TCP/IP socket: non-blocking, with its network events
// (WSAAsyncSelect) delivered as window messages to a hidden window and turned
// into calls of the On... handlers on the thread that owns that window.
#include <winsock2.h>
#include <windows.h>

class CAsyncSocket {
public:
    // Every event a socket can report (read, write, out-of-band data, accept,
    // connect, close).
    static constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // Makes a new socket (an open one is closed first) bound to localPort
    // (0 = any) and localAddress (null = any), reporting events as messages.
    // The first Create picks the calling thread's notification window; later
    // ones keep that window while it exists, so a socket re-created from a
    // thread that pumps no messages still notifies the thread that does.
    // False on failure, with WSAGetLastError telling why.
    bool Create(unsigned int localPort = 0, int type = SOCK_STREAM, long events = kAllEvents,
                const wchar_t* localAddress = nullptr);
    // Starts connecting to host (dotted IPv4 address or a name, looked up
    // now; WSAEINVAL for an empty, overlong or unknown name).
    // True when connected at once; otherwise false with WSAGetLastError set,
    // WSAEWOULDBLOCK when the attempt goes on and OnConnect will report it.
    bool Connect(const wchar_t* host, unsigned int port);
    // send and recv on this socket; SOCKET_ERROR with WSAGetLastError set.
    int Send(const void* data, int length, int flags = 0);
    int Receive(void* data, int length, int flags = 0);
    bool SetSockOpt(int option, const void* value, int length, int level = SOL_SOCKET);
    // Stops the notifications (waiting for a handler that is running on
    // another thread) and closes the socket.
    void Close();
    // Queues a read notification as if the network had sent one, for data
    // left waiting in the socket while the reader had no room for it.
    bool RequestReceiveNotification();

    SOCKET GetSocketHandle() const { return m_hSocket; }
    HWND GetNotifyWindow() const { return m_notifyWindow; }

protected:
    // Called on the notification thread with the event's error code.
    virtual void OnReceive(int error);
    virtual void OnSend(int error);
    virtual void OnOutOfBandData(int error);
    virtual void OnAccept(int error);
    virtual void OnConnect(int error);
    virtual void OnClose(int error);

    SOCKET m_hSocket;

private:
    friend class CSocketNotifier;
    void Dispatch(long event, int error);

    HWND m_notifyWindow;
    UINT m_notifyMessage;
};
