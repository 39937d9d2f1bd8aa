// The progress window driven directly, with the engine clock in the test's
// hand: what the bar, the block line and the estimate line show at given
// counts and times, how often they change, Cancel, and the quit message with
// and without a window.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "api/progress_window.h"
#include "engine/tick_source.h"
#include "resources/resource.h"

namespace {

uint32_t g_now = 0;
uint32_t TestTicks() { return g_now; }

std::wstring ItemText(HWND window, int id) {
    wchar_t text[256] = {0};
    GetDlgItemTextW(window, id, text, 256);
    return text;
}

LRESULT Position(HWND window) { return SendDlgItemMessageW(window, IDC_PROGRESS, PBM_GETPOS, 0, 0); }

// Counts the messages dispatched to it.
int g_dispatched = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++g_dispatched;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeCountingWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vx-download-counter";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void DrainQuit() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        SetEngineTickSource(&TestTicks);
        g_now = 50000;
        progress = DownloadProgress();
    }
    void TearDown() override {
        if (window) RemoveProgressWindow(window);
        SetEngineTickSource(nullptr);
        DrainQuit();
    }

    // A window for a download of `wanted` pages on a link of `baud`.
    HWND Open(uint32_t firstCount, uint32_t wanted, uint32_t baud) {
        progress.m_firstCount = firstCount;
        progress.m_lastCount = firstCount + wanted;
        progress.m_baudRate = baud;
        window = CreateProgressWindow(progress);
        return window;
    }
    // The first poll (nothing received), then one after `ms` with `count`.
    void Run(unsigned long count, uint32_t ms) {
        UpdateDownloadProgress(window, 0);
        g_now += ms;
        UpdateDownloadProgress(window, count);
    }

    DownloadProgress progress;
    HWND window = nullptr;
};

} // namespace

TEST_F(ProgressWindow, IsMadeFromTheLibraryResourcesAndCentred) {
    ASSERT_NE(Open(0, 50, 38400), nullptr) << "no display?";
    wchar_t caption[64] = {0};
    GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L"Download in Progress");
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowLongPtrW(window, DWLP_USER), reinterpret_cast<LONG_PTR>(&progress));
    wchar_t className[64] = {0};
    GetClassNameW(GetDlgItem(window, IDC_PROGRESS), className, 64);
    EXPECT_STREQ(className, L"msctls_progress32");
    EXPECT_EQ(ItemText(window, IDCANCEL), L"Cancel");
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"");
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"");

    RECT area, rect;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
    GetWindowRect(window, &rect);
    const int edge = GetSystemMetrics(SM_CXEDGE);
    const int width = rect.right - rect.left - edge;  // the size before centring
    const int height = rect.bottom - rect.top - edge;
    EXPECT_EQ(rect.left, area.right / 2 - width / 2 - edge);
    EXPECT_EQ(rect.top, area.bottom / 2 - height / 2 - GetSystemMetrics(SM_CXFIXEDFRAME));

    RemoveProgressWindow(window);
    EXPECT_FALSE(IsWindow(window));
    window = nullptr;
}

TEST_F(ProgressWindow, FirstPollSetsTheRangeAndStartsTheClock) {
    ASSERT_NE(Open(7, 50, 38400), nullptr);
    UpdateDownloadProgress(window, 0);
    PBRANGE range = {};
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 7);
    EXPECT_EQ(range.iHigh, 57);
    EXPECT_EQ(Position(window), 7);
    EXPECT_EQ(progress.m_startTick, 50000u);
    EXPECT_EQ(progress.m_lastUpdate, 49900u);
    // 100 ms "ago" is not due yet: the texts stay empty.
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"");
}

TEST_F(ProgressWindow, SlowerThanTheLinkShowsNoEstimate) {
    ASSERT_NE(Open(0, 50, 38400), nullptr);
    Run(20, 10000);
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"Block 20 of 50");
    EXPECT_EQ(Position(window), 20);
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"");
}

TEST_F(ProgressWindow, TheThresholdFollowsTheLinkRate) {
    const std::pair<uint32_t, const wchar_t*> cases[] = {
        {230400, L""}, {115200, L""}, {38400, L"Estimated time remaining: less than 1 minute"}};
    for (const auto& c : cases) {
        ASSERT_NE(Open(0, 500, c.first), nullptr);
        Run(100, 6000);
        EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"Block 100 of 500");
        EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), c.second) << c.first;
        RemoveProgressWindow(window);
        window = nullptr;
    }
}

TEST_F(ProgressWindow, MinutesAreRoundedUpAndSingularAtOne) {
    ASSERT_NE(Open(0, 1080, 38400), nullptr);
    Run(80, 10000);  // 8 pages a second, 1000 left: 125 s
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"Estimated time remaining: 3 minutes");
    RemoveProgressWindow(window);

    ASSERT_NE(Open(0, 700, 38400), nullptr);
    Run(100, 10000);  // 10 a second, 600 left: exactly 60 s
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"Estimated time remaining: 1 minute");
}

TEST_F(ProgressWindow, CancelIsNoticedOnlyWhereAnEstimateWouldShow) {
    ASSERT_NE(Open(0, 400, 38400), nullptr);
    UpdateDownloadProgress(window, 0);
    SendMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(progress.m_cancel);
    g_now += 3000;
    UpdateDownloadProgress(window, 40);
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"");
    g_now += 3000;
    UpdateDownloadProgress(window, 80);
    EXPECT_EQ(ItemText(window, IDC_TIME_TEXT), L"Waiting to opportunity to cancel...");
}

TEST_F(ProgressWindow, UpdatesCloserThan200msOnlyDispatch) {
    ASSERT_NE(Open(0, 50, 38400), nullptr);
    HWND counter = MakeCountingWindow();
    ASSERT_NE(counter, nullptr);
    UpdateDownloadProgress(window, 0);
    g_now += 1000;
    UpdateDownloadProgress(window, 10);
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"Block 10 of 50");

    g_dispatched = 0;
    PostMessageW(counter, WM_APP, 0, 0);
    g_now += 150;
    UpdateDownloadProgress(window, 20);
    EXPECT_EQ(g_dispatched, 1);
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"Block 10 of 50");
    EXPECT_EQ(Position(window), 10);
    g_now += 51;  // 201 ms after the last refresh
    UpdateDownloadProgress(window, 20);
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"Block 20 of 50");
    EXPECT_EQ(Position(window), 20);
    DestroyWindow(counter);
}

TEST_F(ProgressWindow, WithoutARecordNothingHappens) {
    ASSERT_NE(Open(0, 50, 38400), nullptr);
    SetWindowLongPtrW(window, DWLP_USER, 0);
    HWND counter = MakeCountingWindow();
    g_dispatched = 0;
    PostMessageW(counter, WM_APP, 0, 0);
    UpdateDownloadProgress(window, 0);
    g_now += 1000;
    UpdateDownloadProgress(window, 30);
    EXPECT_EQ(g_dispatched, 0);
    EXPECT_EQ(ItemText(window, IDC_BLOCK_TEXT), L"");
    EXPECT_EQ(DownloadDialogProc(window, WM_COMMAND, IDCANCEL, 0), FALSE);
    EXPECT_FALSE(progress.m_cancel);
    EXPECT_EQ(DownloadDialogProc(window, WM_INITDIALOG, 0, 0), TRUE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    DestroyWindow(counter);
}

TEST_F(ProgressWindow, TheQuitMessageCancelsAndIsPostedAgain) {
    ASSERT_NE(Open(0, 50, 38400), nullptr);
    PostQuitMessage(0);
    UpdateDownloadProgress(window, 0);
    EXPECT_TRUE(progress.m_cancel);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(ProgressWindow, WithoutAWindowTheRecordStillCountsAndCancels) {
    progress.m_firstCount = 0;
    progress.m_lastCount = 10;
    progress.m_baudRate = 38400;
    AdvanceDownloadProgress(progress, nullptr, 0);
    EXPECT_EQ(progress.m_startTick, 50000u);
    EXPECT_FALSE(progress.m_cancel);
    g_now += 300;
    AdvanceDownloadProgress(progress, nullptr, 4);
    EXPECT_EQ(progress.m_lastUpdate, 50300u);
    PostQuitMessage(0);
    AdvanceDownloadProgress(progress, nullptr, 5);
    EXPECT_TRUE(progress.m_cancel);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    RemoveProgressWindow(nullptr);  // nothing to take down
}
