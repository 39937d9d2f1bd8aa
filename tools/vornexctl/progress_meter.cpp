#include "tools/vornexctl/progress_meter.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const wchar_t kProgressTitle[] = L"Download in Progress";
const int kProgressBarId = 1000;
const int kBarWidth = 30;
const double kFrameBytes = 272.0;

BOOL CALLBACK FindProgressWindow(HWND window, LPARAM found) {
    wchar_t cls[16] = {};
    wchar_t title[64] = {};
    GetClassNameW(window, cls, 16);
    GetWindowTextW(window, title, 64);
    if (lstrcmpW(cls, L"#32770") == 0 && lstrcmpW(title, kProgressTitle) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

ProgressMeter* ProgressMeter::s_active = nullptr;

double SecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

ProgressMeter::ProgressMeter(long totalPages, const std::wstring& logPath)
    : m_total(totalPages > 0 ? totalPages : 1), m_logPath(logPath) {}

ProgressMeter::~ProgressMeter() {
    if (m_timer) KillTimer(nullptr, m_timer);
    if (s_active == this) s_active = nullptr;
}

void ProgressMeter::Start() {
    QueryPerformanceCounter(&m_start);
    s_active = this;
    m_timer = SetTimer(nullptr, 0, 100, &ProgressMeter::OnTimer);
    Draw(0, true);
}

void ProgressMeter::Stop(long pagesDone) {
    if (m_timer) KillTimer(nullptr, m_timer);
    m_timer = 0;
    if (s_active == this) s_active = nullptr;
    if (pagesDone >= 0) Draw(pagesDone, true);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

VOID CALLBACK ProgressMeter::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (s_active) s_active->Tick();
}

long ProgressMeter::PagesFromWindow() {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindProgressWindow, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return -1;
    HWND bar = GetDlgItem(dialog, kProgressBarId);
    if (!bar) return -1;
    const LRESULT low = SendMessageW(bar, PBM_GETRANGE, TRUE, 0);
    const LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    return position > low ? static_cast<long>(position - low) : 0;
}

long ProgressMeter::PagesFromLog(const std::wstring& logPath) {
    if (logPath.empty()) return 0;
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (text.size() < (8u << 20) && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    // "Issuing:BE4D" + page (8 hex digits) + count (2) + rate (2).
    long done = 0;
    long last = 0;
    const std::string marker = "Issuing:";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const std::string payload = text.substr(at + marker.size(), 16);
        if (payload.size() < 14 || (payload.compare(0, 4, "BE4D") != 0 && payload.compare(0, 4, "be4d") != 0))
            continue;
        done += last;
        last = std::strtol(payload.substr(12, 2).c_str(), nullptr, 16);
    }
    return done;
}

void ProgressMeter::Tick() {
    long pages = PagesFromWindow();
    if (pages < 0) pages = PagesFromLog(m_logPath);
    Draw(pages, false);
}

void ProgressMeter::Draw(long pages, bool force) {
    if (pages > m_total) pages = m_total;
    const DWORD now = GetTickCount();
    if (!force && pages == m_shown && now - m_lastDraw < 1000) return;
    m_shown = pages;
    m_lastDraw = now;
    const int filled = static_cast<int>(static_cast<long long>(pages) * kBarWidth / m_total);
    const int percent = static_cast<int>(static_cast<long long>(pages) * 100 / m_total);
    const double seconds = SecondsSince(m_start);
    const double rate = seconds > 0 ? pages * kFrameBytes / 1000.0 / seconds : 0.0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %ld/%ld pages  %.1f kB/s  ", bar.c_str(), percent, pages, m_total, rate);
    std::fflush(stderr);
}
