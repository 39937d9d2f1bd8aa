// The progress window of a real download, seen from a second thread as a
// user would see it: found by its caption, its block line, bar and estimate
// read while pages arrive, Cancel pressed; and the quit message, which
// cancels like the button and is handed back to the host's message loop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "download_rig.h"

#include <commctrl.h>
#include "png_file.h"
#include "support/test_files.h"

namespace {

const wchar_t kCaption[] = L"Download in Progress";
constexpr int kBlockText = 1001;
constexpr int kTimeText = 1002;
constexpr int kProgress = 1000;

std::string ItemText(HWND window, int id) {
    wchar_t text[256] = {0};
    GetDlgItemTextW(window, id, text, 256);
    std::string narrow;
    for (const wchar_t* p = text; *p; ++p) narrow.push_back(static_cast<char>(*p));
    return narrow;
}

HWND FindProgressWindow() { return FindWindowW(L"#32770", kCaption); }

// What the second thread saw.
struct Sighting {
    bool found = false;
    std::string block;
    unsigned long blockCount = 0;
    unsigned long blockTotal = 0;
    LRESULT position = -1;
    PBRANGE range = {-1, -1};
    std::string estimate;
    bool pictureSaved = false;
    size_t requestsAtCancel = 0;
    bool cancelDisabled = false;
    std::string afterCancel;
};

} // namespace

TEST(DownloadWindow, ShowsTheDownloadAndCancelsAfterTheRequestInProgress) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    // Pages at the pace of a 38400-baud line, about 14 a second: slow
    // enough to watch, fast enough for an estimate after five seconds.
    link.Sim()->SetPacing(true);
    EXPECT_EQ(FindProgressWindow(), nullptr);

    Sighting seen;
    std::thread watcher([&] {
        HWND window = nullptr;
        if (!WaitUntil([&] { return (window = FindProgressWindow()) != nullptr; }, 10000)) return;
        seen.found = true;
        WaitUntil([&] { return SendDlgItemMessageW(window, kProgress, PBM_GETPOS, 0, 0) > 0; }, 10000);
        seen.block = ItemText(window, kBlockText);
        std::sscanf(seen.block.c_str(), "Block %lu of %lu", &seen.blockCount, &seen.blockTotal);
        seen.position = SendDlgItemMessageW(window, kProgress, PBM_GETPOS, 0, 0);
        SendDlgItemMessageW(window, kProgress, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&seen.range));
        WaitUntil([&] { return !ItemText(window, kTimeText).empty(); }, 15000);
        seen.estimate = ItemText(window, kTimeText);
        seen.pictureSaved = SaveWindowPng(window, "download_progress_window.png");

        HWND cancel = GetDlgItem(window, IDCANCEL);
        SendMessageW(cancel, BM_CLICK, 0, 0);
        seen.requestsAtCancel = link.Sim()->CommandCount();
        seen.cancelDisabled = WaitUntil([&] { return !IsWindowEnabled(cancel); }, 5000);
        WaitUntil([&] { return ItemText(window, kTimeText) == "Waiting to opportunity to cancel..."; }, 5000);
        seen.afterCancel = ItemText(window, kTimeText);
    });

    PageListArray list({{0, 400}});
    SAFEARRAY* out = nullptr;
    long error = 0;
    const long rows = Exports().ReadToolMemorySA(link.robot(), list.get(), 38400, 3000, 1, &out);
    watcher.join();

    EXPECT_EQ(rows, -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(FindProgressWindow(), nullptr);
    ASSERT_TRUE(seen.found);
    EXPECT_GT(seen.blockCount, 0u) << seen.block;
    EXPECT_EQ(seen.blockTotal, 400u) << seen.block;
    EXPECT_GT(seen.position, 0);
    EXPECT_LE(seen.position, 400);
    EXPECT_EQ(seen.range.iLow, 0);
    EXPECT_EQ(seen.range.iHigh, 400);
    EXPECT_EQ(seen.estimate.rfind("Estimated time remaining: ", 0), 0u) << seen.estimate;
    EXPECT_TRUE(seen.pictureSaved);
    EXPECT_TRUE(seen.cancelDisabled);
    EXPECT_EQ(seen.afterCancel, "Waiting to opportunity to cancel...");
    // The request in progress was waited for to its end, and none followed.
    const size_t requests = link.Sim()->CommandCount();
    EXPECT_LE(requests, seen.requestsAtCancel + 1);
    EXPECT_EQ(link.Sim()->Counters().pagesQueued, 64u * requests);
    (void)error;
}

TEST(DownloadWindow, TheQuitMessageCancelsAndIsPostedAgain) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PostQuitMessage(0);
    PageListArray list({{0, 100}});
    long error = 0;
    PageList* pages = Exports().ReadToolMemoryList(link.robot(), list.get(), 38400, 2000, 1, &error);
    EXPECT_EQ(pages, nullptr);
    EXPECT_EQ(error, -1);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // The first request ran to its end; nothing was asked after it.
    EXPECT_EQ(link.PageReads().size(), 1u);
    EXPECT_EQ(FindProgressWindow(), nullptr);

    // Through the matrix entry point a cancel is -1 as well.
    PostQuitMessage(0);
    SAFEARRAY* out = nullptr;
    EXPECT_EQ(Exports().ReadToolMemorySA(link.robot(), list.get(), 38400, 2000, 1, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}
