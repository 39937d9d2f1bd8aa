#pragma once
// The console progress bar of a download. The library's download keeps the
// calling thread busy and dispatches its messages, so the bar is driven by a
// thread timer whose WM_TIMER that pump dispatches. Each tick reads how far
// the download is from the library's own progress window (its bar, when a
// display shows it) or else from the log, where each page request is an
// "Issuing:" line.
#include <windows.h>

#include <cstdint>
#include <string>

class ProgressMeter {
public:
    ProgressMeter(long totalPages, const std::wstring& logPath);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void Start();
    // Ends the bar; with pagesDone >= 0 it is drawn once more at that count.
    void Stop(long pagesDone);

    // Pages reported done by the library's window, or -1 without one.
    static long PagesFromWindow();
    // Pages of every page request in the log but the last (those are done).
    static long PagesFromLog(const std::wstring& logPath);

private:
    static VOID CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Draw(long pages, bool force);

    long m_total;
    std::wstring m_logPath;
    UINT_PTR m_timer = 0;
    LARGE_INTEGER m_start = {};
    long m_shown = -1;
    DWORD m_lastDraw = 0;
    static ProgressMeter* s_active;
};

// Seconds since a QueryPerformanceCounter value.
double SecondsSince(const LARGE_INTEGER& start);
