#include "engine/polling_thread.h"

#include <new>

#include "framework/loader_lock.h"
#include "framework/worker_thread.h"

namespace {
// How long a worker that has reported its end is given to finish leaving,
// and how long a stop under the loader lock waits for a running worker's
// report. Bounded, so that a host thread holding the loader lock and
// waiting for this one cannot hold both up for good.
constexpr DWORD kWorkerLeaveMs = 5000;

enum : LONG { kNotStarted = 0, kRunning = 1, kCalledOff = 2 };
}  // namespace

// What the owner and its worker share. The worker claims it when it starts;
// a stop under the loader lock, where the worker cannot start, calls it off
// instead, and the worker then leaves without touching its owner.
struct CPollingThread::Ticket {
    CPollingThread* owner;
    volatile LONG claim;
    volatile LONG refs;  // the owner's and the worker's

    void Release() {
        if (InterlockedDecrement(&refs) == 0) delete this;
    }
};

CPollingThread::CPollingThread()
    : m_state(0),
      m_thread(nullptr),
      m_threadId(0),
      m_ticket(nullptr),
      m_ended(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&m_control);
}

CPollingThread::~CPollingThread() {
    StopPolling();
    EnterCriticalSection(&m_control);
    CollectEndedWorker();
    LeaveCriticalSection(&m_control);
    DeleteCriticalSection(&m_control);
    if (m_ended && !m_thread) CloseHandle(m_ended);
}

void CPollingThread::CollectEndedWorker() {
    if (!m_thread) return;
    if (LoaderLockHeldByThisThread()) {
        // No thread can start or finish leaving while we hold the lock: a
        // worker that has not run yet is called off, and one that runs is
        // given a bounded time to report; it leaves the library through its
        // own module reference once the lock is free.
        if (InterlockedCompareExchange(&m_ticket->claim, kCalledOff, kNotStarted) != kNotStarted &&
            WaitForSingleObject(m_ended, kWorkerLeaveMs) != WAIT_OBJECT_0)
            return;  // still running: the owner must stay
    } else {
        HANDLE either[2] = {m_thread, m_ended};
        const DWORD woke = WaitForMultipleObjects(2, either, FALSE, INFINITE);
        // The worker no longer touches this object, but its thread is still
        // leaving: wait for it, so that none of our threads still runs when
        // the host unloads the library or ends the process (a thread exiting
        // while its process exits is what kills 32-bit hosts in Wine under
        // qemu).
        if (woke == WAIT_OBJECT_0 + 1) WaitForSingleObject(m_thread, kWorkerLeaveMs);
    }
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
    m_ticket->Release();
    m_ticket = nullptr;
}

bool CPollingThread::StartPolling() {
    if (!m_ended) return false;
    EnterCriticalSection(&m_control);
    if (m_state > 0) {
        LeaveCriticalSection(&m_control);
        return false;
    }
    CollectEndedWorker();  // a worker that stopped itself may still be leaving
    bool started = false;
    if (!m_thread) {
        m_ticket = new (std::nothrow) Ticket{this, kNotStarted, 2};
        if (m_ticket) {
            // Marked running before the thread exists, so that a stop
            // requested right after this call returns is never lost.
            InterlockedExchange(&m_state, 1);
            ResetEvent(m_ended);
            m_thread = BeginWorkerThread(&CPollingThread::WorkerMain, m_ticket, &m_threadId);
            started = m_thread != nullptr;
            if (!started) {
                InterlockedExchange(&m_state, -1);
                delete m_ticket;
                m_ticket = nullptr;
            }
        }
    }
    LeaveCriticalSection(&m_control);
    return started;
}

void CPollingThread::StopPolling() {
    if (m_state < 1) return;
    if (GetCurrentThreadId() == m_threadId) {  // from inside Poll: just ask
        InterlockedExchange(&m_state, 0);
        return;
    }
    EnterCriticalSection(&m_control);
    if (m_state >= 1) {
        InterlockedExchange(&m_state, 0);
        WakeWorker();
        CollectEndedWorker();
    }
    LeaveCriticalSection(&m_control);
}

unsigned int CPollingThread::WorkerMain(void* param) {
    Ticket* ticket = static_cast<Ticket*>(param);
    if (ticket == nullptr) return 0;
    if (InterlockedCompareExchange(&ticket->claim, kRunning, kNotStarted) == kNotStarted) {
        CPollingThread* self = ticket->owner;
        while (self->m_state > 0) {
            self->Poll();
            Sleep(0);
        }
        const HANDLE ended = self->m_ended;
        InterlockedExchange(&self->m_state, -1);
        SetEvent(ended);  // the last touch of the owner
    }
    ticket->Release();
    return 0;
}
