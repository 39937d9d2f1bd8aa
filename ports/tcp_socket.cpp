#include "ports/tcp_socket.h"

#include <cstring>

CTCPSocket::CTCPSocket()
    : m_dataEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_connectEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_buffer(new char[kBufferSize]()),
      m_count(0),
      m_connected(false),
      m_receiveHeldBack(false),
      m_connecting(false) {}

CTCPSocket::~CTCPSocket() {
    // Closed before the lock is taken: closing waits for a notification that
    // is running on another thread, and that one may need the lock.
    Close();
    CLockHold hold(*this);
    delete[] m_buffer;
    m_buffer = nullptr;
    m_count = 0;
    if (m_dataEvent) CloseHandle(m_dataEvent);
    if (m_connectEvent) CloseHandle(m_connectEvent);
    m_dataEvent = m_connectEvent = nullptr;
}

int CTCPSocket::Read(char* buffer, int size) {
    if (m_count == 0 || !buffer || size <= 0) return 0;
    int taken = 0;
    {
        CLockHold hold(*this);
        const int count = m_count;
        taken = size < count ? size : count;
        if (taken <= 0) return 0;
        std::memcpy(buffer, m_buffer, static_cast<size_t>(taken));
        if (taken == count) {
            std::memset(m_buffer, 0, kBufferSize);
            m_count = 0;
        } else {
            std::memmove(m_buffer, m_buffer + taken, static_cast<size_t>(count - taken));
            std::memset(m_buffer + count - taken, 0, static_cast<size_t>(taken));
            m_count = count - taken;
        }
    }
    ResumeReceiving();
    return taken;
}

void CTCPSocket::ClearBuffer() {
    {
        CLockHold hold(*this);
        if (m_buffer) std::memset(m_buffer, 0, kBufferSize);
        m_count = 0;
    }
    ResumeReceiving();
}

void CTCPSocket::ResumeReceiving() {
    if (!m_receiveHeldBack) return;
    m_receiveHeldBack = false;
    RequestReceiveNotification();
}

void CTCPSocket::OnReceive(int error) {
    Lock();
    const int room = kBufferSize - m_count;
    if (room > 0) {
        const int received = Receive(m_buffer + m_count, room, 0);
        if (received > 0) m_count = m_count + received;
        else if (received == SOCKET_ERROR) WSAGetLastError();  // the close notification tells what matters
    } else {
        // Asking for nothing would only bring the notification straight back;
        // the data waits in the socket until a read makes room.
        m_receiveHeldBack = true;
    }
    Unlock();
    SetEvent(m_dataEvent);
    CAsyncSocket::OnReceive(error);
}

void CTCPSocket::OnSend(int error) {
    m_connected = true;
    CAsyncSocket::OnSend(error);
}

void CTCPSocket::OnConnect(int error) {
    Lock();
    m_connected = error == 0;
    m_connecting = false;
    CAsyncSocket::OnConnect(error);
    Unlock();
    SetEvent(m_connectEvent);
}

void CTCPSocket::OnClose(int error) {
    m_connected = false;
    CAsyncSocket::OnClose(error);
}
