// The progress window with the engine's clock in the test's hand, for what a real download cannot show without
// relying on the machine's speed: when the estimate's clock starts and its rate, the cancel notice, refreshes
// closer than 200 ms only dispatching, and a window without its record, or none, changing only the cancel flag.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "api/progress_window.h"
#include "engine/tick_source.h"
#include "resources/resource.h"

namespace {

uint32_t g_now = 50000;
uint32_t Now() { return g_now; }
int g_dispatched = 0;

LRESULT CALLBACK Counting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++g_dispatched;
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring Text(HWND window, int id) {
    wchar_t text[256] = {0};
    return GetDlgItemTextW(window, id, text, 256), text;
}

LRESULT Position(HWND window) { return SendDlgItemMessageW(window, IDC_PROGRESS, PBM_GETPOS, 0, 0); }

} // namespace

TEST(ProgressWindow, TheClockStartsAtTheFirstPollAndTextsChangeOnlyAfter200ms) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    SetEngineTickSource(&Now);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Counting, wc.lpszClassName = L"vx-counter";
    RegisterClassW(&wc);
    HWND counter = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DownloadProgress progress = {7, 57, 0, 0, false, 38400};
    HWND window = CreateProgressWindow(progress);
    ASSERT_NE(window, nullptr) << "no display?";
    UpdateDownloadProgress(window, 0);  // the first poll, at 50000
    PBRANGE range = {};
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(std::make_pair(range.iLow, range.iHigh), std::make_pair(7, 57));
    EXPECT_EQ(Position(window), 7);
    // Every poll dispatches; the texts change only more than 200 ms after the last refresh, and the first poll
    // counts as one 100 ms before it.
    PostMessageW(counter, WM_APP, 0, 0);
    g_now += 100;
    UpdateDownloadProgress(window, 9);
    EXPECT_EQ(g_dispatched, 1);
    EXPECT_EQ(Text(window, IDC_BLOCK_TEXT), L"");
    EXPECT_EQ(Position(window), 7);
    g_now += 1;
    UpdateDownloadProgress(window, 27);
    EXPECT_EQ(Text(window, IDC_BLOCK_TEXT), L"Block 20 of 50");
    EXPECT_EQ(Position(window), 27);
    // The estimate's clock started at the first poll; the record's link rate sets the plausible page rate (7.5/s).
    g_now = 55000;
    UpdateDownloadProgress(window, 47);
    EXPECT_EQ(Text(window, IDC_TIME_TEXT), L"");  // 8 pages/s, but not yet past 5 s
    g_now = 55201;
    UpdateDownloadProgress(window, 47);
    EXPECT_EQ(Text(window, IDC_TIME_TEXT), L"Estimated time remaining: less than 1 minute");
    // Without its record the window neither dispatches, shows, nor cancels.
    SetWindowLongPtrW(window, DWLP_USER, 0);
    PostMessageW(counter, WM_APP, 0, 0);
    g_now += 1000;
    UpdateDownloadProgress(window, 37);
    EXPECT_EQ(g_dispatched, 1);
    EXPECT_EQ(Text(window, IDC_BLOCK_TEXT), L"Block 40 of 50");
    EXPECT_EQ(DownloadDialogProc(window, WM_COMMAND, IDCANCEL, 0), FALSE);
    EXPECT_FALSE(progress.m_cancel);
    // With it, the Cancel button shows its notice at the next refresh.
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&progress));
    SendDlgItemMessageW(window, IDCANCEL, BM_CLICK, 0, 0);
    UpdateDownloadProgress(window, 57);
    EXPECT_EQ(Text(window, IDC_TIME_TEXT), L"Waiting to opportunity to cancel...");
    RemoveProgressWindow(window);
    EXPECT_FALSE(IsWindow(window));
    // Without a window (no display) the record still counts and cancels.
    progress.m_cancel = false;
    PostQuitMessage(0);
    AdvanceDownloadProgress(progress, nullptr, 40);
    EXPECT_TRUE(progress.m_cancel);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    DestroyWindow(counter);
    SetEngineTickSource(nullptr);
}
