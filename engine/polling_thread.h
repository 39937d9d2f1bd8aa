#pragma once
// Base of every object with its own worker thread: the worker calls Poll over
// and over until StopPolling.
#include <windows.h>

#include "engine/vx_api.h"

class VX_API CPollingThread {
public:
    CPollingThread();
    virtual ~CPollingThread();
    CPollingThread(const CPollingThread&) = delete;
    CPollingThread& operator=(const CPollingThread&) = delete;

    // Starts the worker. False when it could not be created, when a worker
    // is already running (one object has one worker), and when the object
    // has no event for the worker to report its end with.
    bool StartPolling();
    // Asks the worker to stop and waits until its thread has ended. A stop
    // made under the loader lock (from a host's DllMain), where no thread can
    // start or finish exiting, calls off a worker that has not run yet and
    // otherwise waits a bounded time for the worker to report its end.
    // Returns at once when no worker runs.
    void StopPolling();
    bool IsPolling() const { return m_state > 0; }
    // A worker still runs this object's code: a stop under the loader lock
    // gave up waiting for it. Such an object must not be deleted.
    bool WorkerMayRun() const { return m_thread != nullptr; }
    bool CanPoll() const { return m_ended != nullptr; }

protected:
    // One unit of work; blocks only for a bounded time so a stop is seen.
    virtual void Poll() = 0;
    // Ends a wait the current Poll may be in, so that a stop is seen at once.
    virtual void WakeWorker() {}

private:
    struct Ticket;
    static unsigned int WorkerMain(void* param);
    // Waits until the worker has ended, then closes its handle.
    void CollectEndedWorker();

    // 1 running, 0 not started or stop requested, -1 the worker has ended.
    volatile LONG m_state;
    HANDLE m_thread;
    DWORD m_threadId;
    // Shared with the running worker; outlives this object when the worker
    // was called off before it ran.
    Ticket* m_ticket;
    // Set by the worker as its last touch of this object (manual reset).
    HANDLE m_ended;
    // Serialises start and stop, so a start never races a stop in progress.
    CRITICAL_SECTION m_control;
};
