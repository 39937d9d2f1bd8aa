#include "ports/serial_port.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/trace.h"
#include "framework/module_state.h"

namespace {

// What the DCB's length field says on both architectures.
constexpr DWORD kDcbLength = 28;
static_assert(sizeof(DCB) == kDcbLength, "DCB layout");

} // namespace

CSerialPort::CSerialPort()
    : m_callback(nullptr),
      m_callbackUser(nullptr),
      m_buffer(new char[kBufferSize]()),
      m_count(0),
      m_port(INVALID_HANDLE_VALUE),
      m_dataEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CSerialPort::~CSerialPort() {
    VX_MANAGE_STATE();
    Close();
    Lock();
    delete[] m_buffer;
    m_buffer = nullptr;
    m_count = 0;
    if (m_dataEvent) CloseHandle(m_dataEvent);
    m_dataEvent = nullptr;
    Unlock();
}

int CSerialPort::Open(unsigned int port, unsigned int baud) {
    VX_MANAGE_STATE();
    if (port > kHighestPort) return kOpenRefused;
    // Built without the printf family, which would bring a whole formatter
    // into the library for one number; short enough to need no allocation.
    const std::string narrowPath = "\\\\.\\COM" + std::to_string(port);
    wchar_t path[16] = {};
    std::copy(narrowPath.begin(), narrowPath.end(), path);

    Close();
    CLockHold hold(*this);
    m_port = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (m_port == INVALID_HANDLE_VALUE) {
        Trace("CreateFile failed with error %d.\n", static_cast<int>(GetLastError()));
        return kCreateFailed;
    }

    DCB settings;
    std::memset(&settings, 0, sizeof(settings));
    settings.DCBlength = kDcbLength;
    if (!GetCommState(m_port, &settings)) {
        Trace("GetCommState failed with error %d.\n", static_cast<int>(GetLastError()));
        Close();
        return kGetStateFailed;
    }
    // Only the framing changes; flow control and the rest stay as the driver has them.
    settings.BaudRate = baud;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    if (!SetCommState(m_port, &settings)) {
        Trace("SetCommState failed with error %d.\n", static_cast<int>(GetLastError()));
        Close();
        return kSetStateFailed;
    }
    SetCommMask(m_port, 0);
    Trace("Serial port %s successfully reconfigured.\n", narrowPath.c_str());
    PurgeComm(m_port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return kOpened;
}

void CSerialPort::Close() {
    VX_MANAGE_STATE();
    StopPolling();
    CLockHold hold(*this);
    if (m_port != INVALID_HANDLE_VALUE) {
        CloseHandle(m_port);
        m_port = INVALID_HANDLE_VALUE;
    }
    ClearBuffer();
}

bool CSerialPort::IsOpen() {
    VX_MANAGE_STATE();
    return m_port != INVALID_HANDLE_VALUE;
}

void CSerialPort::ClearBuffer() {
    VX_MANAGE_STATE();
    CLockHold hold(*this);
    if (m_buffer) std::memset(m_buffer, 0, kBufferSize);
    m_count = 0;
}

int CSerialPort::BytesAvailable() {
    VX_MANAGE_STATE();
    return m_count;
}

int CSerialPort::Read(char* buffer, int size) {
    VX_MANAGE_STATE();
    if (m_port == INVALID_HANDLE_VALUE || !buffer || size <= 0) return 0;
    CLockHold hold(*this);
    const int count = m_count;
    const int taken = size < count ? size : count;
    if (taken <= 0) return 0;
    std::memcpy(buffer, m_buffer, static_cast<size_t>(taken));
    if (taken == count) {
        ClearBuffer();
    } else {
        std::memmove(m_buffer, m_buffer + taken, static_cast<size_t>(count - taken));
        std::memset(m_buffer + count - taken, 0, static_cast<size_t>(taken));
        m_count = count - taken;
    }
    return taken;
}

int CSerialPort::Write(const char* buffer, int size) {
    VX_MANAGE_STATE();
    const HANDLE port = m_port;
    if (port == INVALID_HANDLE_VALUE || !buffer || size <= 0) return 0;
    DWORD written = 0;
    WriteFile(port, buffer, static_cast<DWORD>(size), &written, nullptr);
    return static_cast<int>(written);
}

HANDLE CSerialPort::GetEvent() {
    VX_MANAGE_STATE();
    return m_dataEvent;
}

SerialDataCallback CSerialPort::RegisterDataCallback(SerialDataCallback callback, void* user) {
    VX_MANAGE_STATE();
    CLockHold hold(*this);
    const SerialDataCallback previous = m_callback;
    m_callback = callback;
    m_callbackUser = user;
    return previous;
}

void CSerialPort::Poll() {
    if (m_port == INVALID_HANDLE_VALUE) {
        Sleep(0);
        return;
    }
    Lock();
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof(status));
    ClearCommError(m_port, &errors, &status);
    if (errors) Trace("Comm Error %4X", static_cast<unsigned>(errors));
    DWORD waiting = status.cbInQue;
    if (waiting == 0) {
        Unlock();
        Sleep(0);
        return;
    }
    // An overflow drops what was held, never the bytes now arriving.
    if (m_count + waiting > static_cast<DWORD>(kBufferSize)) ClearBuffer();
    if (waiting > static_cast<DWORD>(kBufferSize)) waiting = kBufferSize;
    DWORD received = 0;
    ReadFile(m_port, m_buffer + m_count, waiting, &received, nullptr);
    if (received > waiting) received = waiting;
    m_count = m_count + static_cast<int>(received);
    if (m_callback) m_callback(this, m_callbackUser);
    Unlock();
    SetEvent(m_dataEvent);
}
