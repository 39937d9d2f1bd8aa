#pragma once
// A COM port at a given rate, 8 data bits, no parity, one stop bit. Its own
// worker moves whatever the driver has received into a 1024-byte buffer,
// calls the data callback and sets the data event; readers take bytes from
// the buffer oldest first and never wait.
#include <windows.h>

#include "common/lockable.h"
#include "engine/polling_thread.h"
#include "engine/vx_api.h"

class CSerialPort;
typedef void (*SerialDataCallback)(CSerialPort* port, void* user);

class VX_API CSerialPort : public CLockable, public CPollingThread {
public:
    static constexpr int kBufferSize = 1024;
    // Highest port number Open accepts; above it Open returns kOpenRefused.
    static constexpr unsigned int kHighestPort = 255;
    // Open results: 0 opened, else what failed.
    enum OpenResult { kOpened = 0, kCreateFailed = 1, kGetStateFailed = 2, kSetStateFailed = 3, kOpenRefused = 1 };

    CSerialPort();
    ~CSerialPort() override;
    // A copy would share the handle, buffer, event and lock of its source.
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens \\.\COM<port> at baud 8N1 (closing what was open first) and
    // clears the driver's queues. Does not start the worker: call
    // StartPolling after a successful open. A port number above 255 leaves
    // everything as it was and gives 1.
    int Open(unsigned int port, unsigned int baud);
    // Stops the worker, closes the port and empties the buffer.
    void Close();
    bool IsOpen();
    // Empties the buffer and zero-fills it.
    void ClearBuffer();
    // Bytes buffered and not yet read (read without the lock).
    int BytesAvailable();
    // Copies and removes up to size buffered bytes, oldest first; 0 when the
    // port is closed or nothing is buffered.
    int Read(char* buffer, int size);
    // Writes size bytes at once; the count the driver took, 0 on failure or
    // when the port is closed.
    int Write(const char* buffer, int size);
    // The auto-reset event set after every read from the port; the port owns it.
    HANDLE GetEvent();
    // Sets the function the worker calls (with the lock held) after each read
    // from the port; null switches it off. Returns the one set before.
    SerialDataCallback RegisterDataCallback(SerialDataCallback callback, void* user);

protected:
    // One step of the worker: move what the driver holds into the buffer.
    void Poll() override;

    SerialDataCallback m_callback;
    void* m_callbackUser;
    char* m_buffer;
    volatile int m_count;
    HANDLE m_port;
    HANDLE m_dataEvent;
};
