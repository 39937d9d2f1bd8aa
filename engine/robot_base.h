#pragma once
// The robot object's foundation: its worker, its lock, the attached port, the
// command queues and maps, timing and the log.
#include <cstdint>
#include <deque>
#include <map>
#include <string>

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

class CRobotBase : public CLockable, public CPollingThread, public LinkLog {
public:
    CRobotBase();
    virtual ~CRobotBase();

    virtual int Issue(CString text, eCommand kind, bool addressed, bool preFramed);
    virtual CRobotCommand* FindReply(int id);
    virtual CRobotCommand* WaitReply(int id, unsigned int ms);
    // For waits that also watch something else (window messages): a handle
    // of id's waiter event, made when none exists, which is set whenever id's
    // finished record changes (a part stored, completed, abandoned, taken
    // away). The caller closes the handle; null when none could be made.
    HANDLE WatchReply(int id);
    // Drops id's waiter event once its wait is over.
    void ForgetWatch(int id);
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

    // Wakes every host thread blocked in WaitReply (Detach discards their
    // events) and waits until all have left, so the object can be destroyed.
    void ReleaseWaiters();

    CSerialPort* GetSerialPort() const { return m_serialPort; }
    CFTDIPort* GetFTDIPort() const { return m_ftdiPort; }
    CTCPPort* GetTcpPort() const { return m_tcpPort; }
    bool HasPort() const { return m_serialPort || m_ftdiPort || m_tcpPort; }
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
    // Wakes whoever waits for id; called with the lock held after id's
    // finished record changed.
    void SignalWaiter(int id);
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
    std::map<int, HANDLE> m_waiters;
    // The adapter of the attached port, null when none is attached.
    std::unique_ptr<LinkTransport> m_transport;

private:
    // WatchReply with the lock held.
    HANDLE WatchReplyLocked(int id);
    // Waits on own until id's record is complete (or taken away) or ms have
    // passed; stored parts and abandonment do not end the wait.
    CRobotCommand* AwaitComplete(int id, HANDLE own, unsigned int ms);

    // Makes the adapter for the port just attached (robot_attach.cpp).
    static std::unique_ptr<LinkTransport> MakeTransport(CSerialPort* port);
    std::unique_ptr<LinkTransport> MakeTransport(CTCPPort* port);
    // rxEvent: the FTDI receive event the driver is to signal.
    std::unique_ptr<LinkTransport> MakeTransport(CFTDIPort* port, HANDLE rxEvent);

    // Keeps log lines of host threads and the worker from interleaving.
    CLockable m_logLock;
    // Host threads inside WaitReply; destruction waits for them to leave.
    volatile LONG m_activeWaiters;
};

// The keep-alive period, also the value the countdown restarts from.
constexpr int kKeepAlivePeriodMs = 25000;
constexpr unsigned int kDefaultTimeoutMs = 2000;
