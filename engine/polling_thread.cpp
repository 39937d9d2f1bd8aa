#include "engine/polling_thread.h"

#include "framework/loader_lock.h"
#include "framework/worker_thread.h"

namespace {
// How long a worker that has reported its end is given to finish leaving.
// Bounded, so that a host thread holding the loader lock and waiting for
// this one cannot hold both up for good.
constexpr DWORD kWorkerLeaveMs = 5000;
}  // namespace

CPollingThread::CPollingThread()
    : m_state(0), m_thread(nullptr), m_threadId(0), m_ended(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&m_control);
}

CPollingThread::~CPollingThread() {
    StopPolling();
    EnterCriticalSection(&m_control);
    CollectEndedWorker();
    LeaveCriticalSection(&m_control);
    DeleteCriticalSection(&m_control);
    if (m_ended) CloseHandle(m_ended);
}

void CPollingThread::CollectEndedWorker() {
    if (!m_thread) return;
    HANDLE either[2] = {m_thread, m_ended};
    const DWORD woke = WaitForMultipleObjects(m_ended ? 2 : 1, either, FALSE, INFINITE);
    // The worker no longer touches this object, but its thread is still
    // leaving: wait for it, so that none of our threads still runs when the
    // host unloads the library or ends the process (a thread exiting while
    // its process exits is what kills 32-bit hosts in Wine under qemu).
    // Under the loader lock the thread cannot finish: return on its report.
    if (woke == WAIT_OBJECT_0 + 1 && !LoaderLockHeldByThisThread()) WaitForSingleObject(m_thread, kWorkerLeaveMs);
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
}

bool CPollingThread::StartPolling() {
    EnterCriticalSection(&m_control);
    if (m_state > 0) {
        LeaveCriticalSection(&m_control);
        return false;
    }
    CollectEndedWorker();  // a worker that stopped itself may still be leaving
    // Marked running before the thread exists, so that a stop requested right
    // after this call returns is never lost.
    InterlockedExchange(&m_state, 1);
    if (m_ended) ResetEvent(m_ended);
    m_thread = BeginWorkerThread(&CPollingThread::WorkerMain, this, &m_threadId);
    if (!m_thread) InterlockedExchange(&m_state, -1);
    const bool started = m_thread != nullptr;
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
    if (param == nullptr) return 0;
    CPollingThread* self = static_cast<CPollingThread*>(param);
    while (self->m_state > 0) {
        self->Poll();
        Sleep(0);
    }
    const HANDLE ended = self->m_ended;
    InterlockedExchange(&self->m_state, -1);
    if (ended) SetEvent(ended);
    return 0;
}
