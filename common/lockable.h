#pragma once
// One re-entrant critical section, the lock shared by the robot object and the
// ports. Constructed before and destroyed after the rest of its object; the
// destructor enters once so that a thread still inside finishes first.
#include <windows.h>

class CLockable {
public:
    CLockable() { InitializeCriticalSection(&m_section); }
    ~CLockable() {
        EnterCriticalSection(&m_section);
        LeaveCriticalSection(&m_section);
        DeleteCriticalSection(&m_section);
    }
    CLockable(const CLockable&) = delete;
    CLockable& operator=(const CLockable&) = delete;

    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// Holds a CLockable for one scope.
class CLockHold {
public:
    explicit CLockHold(CLockable& lockable) : m_lockable(lockable) { m_lockable.Lock(); }
    ~CLockHold() { m_lockable.Unlock(); }
    CLockHold(const CLockHold&) = delete;
    CLockHold& operator=(const CLockHold&) = delete;

private:
    CLockable& m_lockable;
};
