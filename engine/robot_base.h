#pragma once
// The robot object's foundation: its worker, its lock, the attached port, the
// command queues and maps, timing and the log.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include <memory>

#include "common/lockable.h"
#include "engine/link_transport.h"
#include "engine/polling_thread.h"
#include "engine/robot_command.h"

class CSerialPort;
class CFTDIPort;
class CTCPPort;
class CLogFile;

// One host thread's wait for one command's record; lives on that thread's
// stack while the robot object lists it.
struct ReplyWaiter {
    int id = 0;
    HANDLE event = nullptr;
    // Set with the lock held when the record was taken away (DeleteReply,
    // Detach): the wait is over and finds nothing.
    bool cut = false;
    ReplyWaiter* next = nullptr;
};

class CRobotBase : public CLockable, public CPollingThread, public LinkLog {
public:
    CRobotBase();
    virtual ~CRobotBase();

    virtual int Issue(CString text, eCommand kind, bool addressed, bool preFramed);
    virtual CRobotCommand* FindReply(int id);
    virtual CRobotCommand* WaitReply(int id, unsigned int ms);
    // Lists waiter for id, so that it is woken whenever id's finished record
    // changes (a part stored, completed, abandoned), when DeleteReply takes
    // the record away, and when Detach discards every record (those two also
    // mark it cut). Several waiters may wait for one ID. False when no event
    // could be had: the waiter is not listed.
    bool ListWaiter(ReplyWaiter& waiter, int id);
    // Takes a listed waiter off the list and keeps its event for the next.
    void UnlistWaiter(ReplyWaiter& waiter);
    virtual bool DeleteReply(int id);
    virtual bool Receive() = 0;
    virtual void HandleReply(char* bytes, int length) = 0;
    virtual void Transmit(int elapsed) = 0;
    virtual bool IsBusy() = 0;
    virtual int IssueLocal(CString text, eCommand kind);
    virtual void OnTimeout();

    void AttachSerialPort(CSerialPort* port);
    void AttachTcpPort(CTCPPort* port);
    void AttachFTDIPort(CFTDIPort* port);
    bool Detach();
    void ClearPending();
    void CancelPending();

    void SetTimeout(unsigned int ms) { m_timeout = ms; }
    unsigned int GetTimeout() const { return m_timeout; }
    // Replaces the log; the stream the robot held before is closed.
    void SetLog(CLogFile* log);
    bool CloseLog();
    bool HasLog() const { return m_log != nullptr; }
    // One log line, ended by a line break and flushed; nothing without a log.
    void WriteLog(const std::string& line) override;

    // Host calls that wait or dispatch messages use the object besides the
    // host's handle; whoever drops the last use deletes it.
    void AddUse() { InterlockedIncrement(&m_uses); }
    // True only for the first destroy of the object.
    bool MarkDestroyed() { return InterlockedExchange(&m_destroyed, 1) == 0; }
    bool DropUse() { return InterlockedDecrement(&m_uses) == 0; }
    bool UsedBesidesTheHandle() const { return m_uses > 1; }
    // Counts every Detach: a wait that sees it change knows its port, its
    // records or the object itself were taken away while it waited.
    LONG GetLinkGeneration() const { return m_linkGeneration; }
    // Host threads inside WaitReply or another listed wait.
    LONG GetWaiterCount() const { return m_waiterCount; }

    CSerialPort* GetSerialPort() const { return m_serialPort; }
    CFTDIPort* GetFTDIPort() const { return m_ftdiPort; }
    CTCPPort* GetTcpPort() const { return m_tcpPort; }
    bool HasPort() const { return m_serialPort || m_ftdiPort || m_tcpPort; }
    bool UsesPort(const void* port) const {
        return port && (port == m_serialPort || port == m_ftdiPort || port == m_tcpPort);
    }
    // False when the work event could not be made (out of handles).
    bool HasWorkEvent() const { return m_workEvent != nullptr; }

protected:
    void Poll() override;
    void WakeWorker() override { SetEvent(m_workEvent); }
    // Waits up to ms for port input or queued work; true when the attached
    // port holds unread bytes.
    virtual bool WaitForData(unsigned int ms);
    // Moves the pending head to the in-flight queue when that is empty.
    void HandOver();
    // Makes the link idle after a completion or abandonment.
    void MakeIdle();
    // Wakes whoever waits for id (cut: their record is gone); called with the
    // lock held after id's finished record changed.
    void SignalWaiter(int id, bool cut = false);
    static bool LinkIdleKind(eCommand kind) { return kind == eNone; }

    CSerialPort* m_serialPort;
    CFTDIPort* m_ftdiPort;
    CTCPPort* m_tcpPort;
    HANDLE m_ftdiEvent;
    HANDLE m_workEvent;
    uint32_t m_usbProductId;
    uint32_t m_usbVendorId;
    volatile bool m_awaitingReply;
    volatile eCommand m_currentCommand;
    int64_t m_remaining;
    uint32_t m_lastTick;
    volatile uint32_t m_timeout;
    CLogFile* m_log;
    std::deque<CRobotCommand> m_pending;
    std::deque<CRobotCommand> m_inFlight;
    std::map<int, CRobotCommand> m_finished;
    // The host threads waiting for records, each listed on its own stack.
    ReplyWaiter* m_waiters;
    // The adapter of the attached port, null when none is attached.
    std::unique_ptr<LinkTransport> m_transport;

private:
    // The record of id once it is complete or abandoned, else null.
    CRobotCommand* SettledRecordLocked(int id);
    bool ListWaiterLocked(ReplyWaiter& waiter, int id);

    // Makes the adapter for the port just attached (robot_attach.cpp).
    static std::unique_ptr<LinkTransport> MakeTransport(CSerialPort* port);
    std::unique_ptr<LinkTransport> MakeTransport(CTCPPort* port);
    // rxEvent: the FTDI receive event the driver is to signal.
    std::unique_ptr<LinkTransport> MakeTransport(CFTDIPort* port, HANDLE rxEvent);

    // Keeps log lines of host threads and the worker from interleaving.
    CLockable m_logLock;
    // Events of waits that are over, kept for the next (auto-reset; one may
    // still carry a wake-up that came too late, which costs a second look).
    std::vector<HANDLE> m_spareEvents;
    volatile LONG m_uses;
    volatile LONG m_destroyed;
    volatile LONG m_linkGeneration;
    volatile LONG m_waiterCount;
};

// The keep-alive period, also the value the countdown restarts from.
constexpr int kKeepAlivePeriodMs = 25000;
constexpr unsigned int kDefaultTimeoutMs = 2000;
