#include "engine/robot_base.h"

#include <new>

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
      m_waiters(nullptr),
      m_uses(1),
      m_destroyed(0),
      m_linkGeneration(0),
      m_waiterCount(0) {
    m_workEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CRobotBase::~CRobotBase() {
    // The worker calls virtual members of the derived classes, so whoever
    // destroys a polling robot stops it first; this is the last safety net.
    StopPolling();
    Detach();
    for (HANDLE event : m_spareEvents) CloseHandle(event);
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

CRobotCommand* CRobotBase::SettledRecordLocked(int id) {
    auto found = m_finished.find(id);
    if (found == m_finished.end()) return nullptr;
    CRobotCommand& record = found->second;
    return record.IsReplyComplete() || record.IsAbandoned() ? &record : nullptr;
}

CRobotCommand* CRobotBase::WaitReply(int id, unsigned int ms) {
    ReplyWaiter waiter;
    {
        // Looking and listing in one hold: a reply completed in between is
        // not missed.
        CLockHold hold(*this);
        if (CRobotCommand* settled = SettledRecordLocked(id)) return settled;
        if (!ListWaiterLocked(waiter, id)) return nullptr;
    }
    const DWORD start = GetTickCount();
    CRobotCommand* record = nullptr;
    for (;;) {
        DWORD left = INFINITE;
        if (ms != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            left = spent >= ms ? 0 : ms - spent;
        }
        const bool woken = WaitForSingleObject(waiter.event, left) == WAIT_OBJECT_0;
        CLockHold hold(*this);
        if (waiter.cut) break;
        // Stored parts and abandonment wake the waiter but do not end the
        // wait; only completion does.
        auto found = m_finished.find(id);
        if (found != m_finished.end() && found->second.IsReplyComplete()) {
            record = &found->second;
            break;
        }
        if (!woken) break;
    }
    UnlistWaiter(waiter);
    return record;
}

bool CRobotBase::ListWaiter(ReplyWaiter& waiter, int id) {
    CLockHold hold(*this);
    return ListWaiterLocked(waiter, id);
}

bool CRobotBase::ListWaiterLocked(ReplyWaiter& waiter, int id) {
    if (m_spareEvents.empty()) {
        waiter.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!waiter.event) return false;
    } else {
        waiter.event = m_spareEvents.back();
        m_spareEvents.pop_back();
    }
    waiter.id = id;
    waiter.cut = false;
    waiter.next = m_waiters;
    m_waiters = &waiter;
    InterlockedIncrement(&m_waiterCount);
    return true;
}

void CRobotBase::UnlistWaiter(ReplyWaiter& waiter) {
    CLockHold hold(*this);
    for (ReplyWaiter** link = &m_waiters; *link; link = &(*link)->next) {
        if (*link != &waiter) continue;
        *link = waiter.next;
        InterlockedDecrement(&m_waiterCount);
        break;
    }
    waiter.next = nullptr;
    if (!waiter.event) return;
    try {
        m_spareEvents.push_back(waiter.event);
    } catch (const std::bad_alloc&) {
        CloseHandle(waiter.event);
    }
    waiter.event = nullptr;
}

void CRobotBase::SignalWaiter(int id, bool cut) {
    for (ReplyWaiter* waiter = m_waiters; waiter; waiter = waiter->next) {
        if (waiter->id != id) continue;
        if (cut) waiter->cut = true;
        SetEvent(waiter->event);
    }
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
    // Whoever waits for the record erased finds nothing; a wait for a
    // command not yet finished goes on.
    if (erased) SignalWaiter(id, true);
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
        // Every waiting host thread is woken and finds its record gone;
        // each takes itself off the list.
        for (ReplyWaiter* waiter = m_waiters; waiter; waiter = waiter->next) {
            waiter->cut = true;
            SetEvent(waiter->event);
        }
        InterlockedIncrement(&m_linkGeneration);
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
