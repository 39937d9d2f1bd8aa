#include "engine/robot_base.h"

#include "engine/log_file.h"
#include "engine/log_text.h"
#include "engine/tick_source.h"

CRobotBase::CRobotBase()
    : m_serialPort(nullptr),
      m_ftdiPort(nullptr),
      m_tcpPort(nullptr),
      m_ftdiEvent(nullptr),
      m_workEvent(nullptr),
      m_usbProductId(0x6001),
      m_usbVendorId(0x0403),
      m_awaitingReply(false),
      m_currentCommand(eNone),
      m_remaining(0),
      m_lastTick(0),
      m_timeout(kDefaultTimeoutMs),
      m_log(nullptr),
      m_activeWaiters(0) {
    m_workEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CRobotBase::~CRobotBase() {
    // The worker calls virtual members of the derived classes, so whoever
    // destroys a polling robot stops it first; this is the last safety net.
    StopPolling();
    ReleaseWaiters();
    if (m_workEvent) CloseHandle(m_workEvent);
    m_workEvent = nullptr;
    // A robot destroyed without StopPolling closes its log here rather than
    // leaking the stream and keeping the file open.
    CloseLog();
}

int CRobotBase::Issue(CString text, eCommand kind, bool addressed, bool preFramed) {
    if (m_log) WriteLog("Issuing:" + NarrowLogText(text));
    int id;
    {
        CLockHold hold(*this);
        m_pending.emplace_back(text, kind, addressed, preFramed);
        id = m_pending.back().GetID();
    }
    SetEvent(m_workEvent);
    return id;
}

int CRobotBase::IssueLocal(CString text, eCommand kind) {
    if (m_log) WriteLog("Issuing Local:" + NarrowLogText(text));
    int id;
    {
        CLockHold hold(*this);
        m_inFlight.emplace_back(text, kind);
        id = m_inFlight.back().GetID();
    }
    // Sent by the very next cycle, not after a poll wait.
    SetEvent(m_workEvent);
    return id;
}

CRobotCommand* CRobotBase::FindReply(int id) {
    CLockHold hold(*this);
    auto found = m_finished.find(id);
    return found == m_finished.end() ? nullptr : &found->second;
}

CRobotCommand* CRobotBase::WaitReply(int id, unsigned int ms) {
    InterlockedIncrement(&m_activeWaiters);
    CRobotCommand* record = nullptr;
    HANDLE own = nullptr;
    {
        // Looking and registering in one hold: a reply completed in between
        // is not missed.
        CLockHold hold(*this);
        auto found = m_finished.find(id);
        if (found != m_finished.end() && (found->second.IsReplyComplete() || found->second.IsAbandoned()))
            record = &found->second;
        else
            own = WatchReplyLocked(id);
    }
    if (own) {
        record = AwaitComplete(id, own, ms);
        CloseHandle(own);
    }
    InterlockedDecrement(&m_activeWaiters);
    return record;
}

CRobotCommand* CRobotBase::AwaitComplete(int id, HANDLE own, unsigned int ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (ms != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            left = spent >= ms ? 0 : ms - spent;
        }
        // The event stays in the map after a wait that timed out, for a
        // later wait on the same ID.
        if (WaitForSingleObject(own, left) != WAIT_OBJECT_0) return nullptr;
        CLockHold hold(*this);
        auto found = m_finished.find(id);
        if (found != m_finished.end() && !found->second.IsReplyComplete()) continue;
        // Complete, or discarded by Detach or DeleteReply (null).
        auto waiter = m_waiters.find(id);
        if (waiter != m_waiters.end()) {
            CloseHandle(waiter->second);
            m_waiters.erase(waiter);
        }
        return found == m_finished.end() ? nullptr : &found->second;
    }
}

HANDLE CRobotBase::WatchReply(int id) {
    CLockHold hold(*this);
    return WatchReplyLocked(id);
}

HANDLE CRobotBase::WatchReplyLocked(int id) {
    HANDLE event = nullptr;
    auto waiter = m_waiters.find(id);
    if (waiter != m_waiters.end()) {
        event = waiter->second;
    } else {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!event) return nullptr;
        m_waiters[id] = event;
    }
    // The waiter keeps a handle of its own, so that Detach may close the
    // map's handle while this thread still waits on the event.
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return own;
}

void CRobotBase::ForgetWatch(int id) {
    CLockHold hold(*this);
    auto waiter = m_waiters.find(id);
    if (waiter == m_waiters.end()) return;
    CloseHandle(waiter->second);
    m_waiters.erase(waiter);
}

void CRobotBase::SignalWaiter(int id) {
    auto waiter = m_waiters.find(id);
    if (waiter != m_waiters.end()) SetEvent(waiter->second);
}

bool CRobotBase::DeleteReply(int id) {
    CLockHold hold(*this);
    bool erased = false;
    auto found = m_finished.find(id);
    if (found != m_finished.end()) {
        found->second.FreeReplies();
        m_finished.erase(found);
        erased = true;
    }
    auto waiter = m_waiters.find(id);
    if (waiter != m_waiters.end()) {
        CloseHandle(waiter->second);
        m_waiters.erase(waiter);
    }
    return erased;
}

void CRobotBase::ClearPending() {
    // Reset under the lock: a command issued right after the clear sets the
    // event again and is not left waiting for the next poll wait.
    CLockHold hold(*this);
    m_pending.clear();
    ResetEvent(m_workEvent);
}

void CRobotBase::CancelPending() {
    ClearPending();
    m_remaining = 0;
}

bool CRobotBase::Detach() {
    if (m_ftdiEvent) {
        CloseHandle(m_ftdiEvent);
        m_ftdiEvent = nullptr;
    }
    ClearPending();
    {
        CLockHold hold(*this);
        m_inFlight.clear();
        for (auto& entry : m_finished) entry.second.FreeReplies();
        m_finished.clear();
        // A thread blocked in WaitReply is woken; it finds its record gone
        // and returns null.
        for (auto& waiter : m_waiters) {
            SetEvent(waiter.second);
            CloseHandle(waiter.second);
        }
        m_waiters.clear();
    }
    m_currentCommand = eNone;
    m_remaining = 0;
    m_awaitingReply = false;
    m_serialPort = nullptr;
    m_tcpPort = nullptr;
    m_ftdiPort = nullptr;
    m_transport.reset();
    return true;
}

void CRobotBase::ReleaseWaiters() {
    Detach();
    // Woken waiters need the lock for a moment; let them finish.
    while (m_activeWaiters > 0) Sleep(1);
}

// Each attach makes the port's adapter before it changes anything, so that
// running out of memory leaves the robot object as it was.
void CRobotBase::AttachSerialPort(CSerialPort* port) {
    std::unique_ptr<LinkTransport> transport = port ? MakeTransport(port) : nullptr;
    Detach();
    m_serialPort = port;
    m_transport = std::move(transport);
}

void CRobotBase::AttachTcpPort(CTCPPort* port) {
    std::unique_ptr<LinkTransport> transport = port ? MakeTransport(port) : nullptr;
    Detach();
    m_tcpPort = port;
    m_transport = std::move(transport);
}

void CRobotBase::AttachFTDIPort(CFTDIPort* port) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::unique_ptr<LinkTransport> transport;
    try {
        if (port) transport = MakeTransport(port, event);
    } catch (...) {
        if (event) CloseHandle(event);
        throw;
    }
    Detach();
    m_ftdiPort = port;
    m_ftdiEvent = event;
    m_transport = std::move(transport);
}

void CRobotBase::SetLog(CLogFile* log) {
    CLockHold hold(m_logLock);
    delete m_log;
    m_log = log;
}

bool CRobotBase::CloseLog() {
    CLockHold hold(m_logLock);
    if (!m_log) return false;
    delete m_log;
    m_log = nullptr;
    return true;
}

void CRobotBase::WriteLog(const std::string& line) {
    CLockHold hold(m_logLock);
    if (!m_log) return;
    m_log->WriteLine(line);
}

void CRobotBase::OnTimeout() {
    {
        CLockHold hold(*this);
        if (!m_inFlight.empty()) m_inFlight.pop_front();
    }
    MakeIdle();
}

void CRobotBase::MakeIdle() {
    m_currentCommand = eNone;
    m_awaitingReply = false;
    m_remaining = 0;
}

void CRobotBase::HandOver() {
    CLockHold hold(*this);
    if (m_inFlight.empty() && !m_pending.empty()) {
        m_inFlight.push_back(m_pending.front());
        m_pending.pop_front();
    }
}

void CRobotBase::Poll() {
    if (m_lastTick == 0) m_lastTick = EngineTickCount();
    if (WaitForData(EnginePollWaitMs())) {
        while (Receive()) {
        }
    }
    const uint32_t now = EngineTickCount();
    if (now < m_lastTick) m_lastTick = now;  // the counter wrapped: no time passed
    Transmit(static_cast<int>(now - m_lastTick));
    m_lastTick = now;
}

bool CRobotBase::WaitForData(unsigned int ms) {
    if (m_transport) return m_transport->WaitForData(m_workEvent, ms);
    // Without a port there is nothing to read; waiting on the work event
    // keeps an unattached robot from spinning a whole processor.
    WaitForSingleObject(m_workEvent, ms);
    return false;
}
