// The tool-memory download as a host runs it, through the exports, against the simulated tool on each kind of link
// or a scripted tool on TCP: the requests sent (from the robot's log), the page matrix and page list, rates,
// failures, cancel, and the progress window (real, under Xvfb). Time limits are far above an ordinary reply's time.
#include "support/vornex_test.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "sim/reply_frames.h"

using namespace vxt;

namespace {

constexpr long kPatientMs = 10000;
constexpr long kRunsOutMs = 5000;  // for a request meant to run out: still far above an ordinary reply's time
constexpr long kPlain = 1, kSumCheck = 0;  // flag 0 asks for the sum check
typedef std::vector<std::pair<long, long>> Runs;
typedef std::vector<std::vector<uint8_t>> Frames;

SAFEARRAY* PageRuns(const Runs& runs) {
    std::vector<long> cells;
    for (const auto& r : runs) cells.push_back(r.first), cells.push_back(r.second);
    return Matrix(VT_I4, static_cast<ULONG>(runs.size()), 2, cells);
}

struct Matrix272 {
    long result = 0;
    VARTYPE type = VT_EMPTY;
    Frames rows;
    std::vector<uint32_t> Pages() const {
        std::vector<uint32_t> pages;
        for (const auto& f : rows) pages.push_back(f[6] | f[7] << 8 | f[8] << 16 | static_cast<uint32_t>(f[9]) << 24);
        return pages;
    }
};

Frames Rows(SAFEARRAY* matrix) {
    Frames rows(std::max(0L, static_cast<long>(CountOf(matrix, 1))));  // none without a matrix
    for (long r = 0; r < static_cast<long>(rows.size()); ++r)
        for (long c = 0; c < CountOf(matrix, 2); ++c) rows[r].push_back(At(matrix, r, c));
    return rows;
}

// ROBOT_ReadToolMemoryAddressed into a page matrix, read back row by row.
Matrix272 Download(ROBOT_HANDLE robot, SAFEARRAY* list, long rate, long timeoutMs, long flag,
                   const wchar_t* address = nullptr) {
    Array pages(list), out;
    Matrix272 m;
    m.result = ROBOT_ReadToolMemoryAddressed(robot, pages.out(), rate, timeoutMs, flag, out.out(), address);
    m.type = TypeOf(out.get());
    m.rows = Rows(out.get());
    return m;
}

// The list entry point (with an address: its other overload): whether a list came, *error (9 untouched), the
// frames (the list freed).
struct Listed {
    bool listed;
    long error;
    Frames frames;
    bool FinishedWithNoPages() const { return listed && frames.empty() && error == 0; }
};
Listed List(ROBOT_HANDLE robot, SAFEARRAY* runs, long rate = 38400, long timeoutMs = kPatientMs,
            const wchar_t* address = nullptr) {
    Array pages(runs);
    Listed l{false, 9, {}};
    std::unique_ptr<PageList> got(address ? ROBOT_ReadToolMemory(robot, pages.out(), rate, timeoutMs, kPlain, &l.error, address)
                                          : ROBOT_ReadToolMemory(robot, pages.out(), rate, timeoutMs, kPlain, &l.error));
    l.listed = got != nullptr;
    if (got)
        for (const auto& p : *got) l.frames.emplace_back(p.second, p.second + p.first), delete[] p.second;
    return l;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The page-read texts the robot issued, in order.
std::vector<std::string> PageReads(const std::string& log) {
    std::vector<std::string> reads;
    for (size_t at = log.find("Issuing:BE4D"); at != std::string::npos; at = log.find("Issuing:BE4D", at + 1))
        reads.push_back(log.substr(at + 8, log.find('\r', at) - at - 8));
    return reads;
}

std::vector<uint8_t> Page(uint32_t page, uint8_t index) { return vxsim::BuildPageFrame(page, index, false); }

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

HWND ProgressWindow() { return FindWindowW(L"#32770", L"Download in Progress"); }

// Runs a job inside the download's message dispatch, as a host's timer would, at the first tick at which it is
// ready. While the job runs, this thread's TCP port reads nothing: what the job waits for must not need it.
std::function<void()> g_job;
std::function<bool()> g_ready;
void CALLBACK RunJob(HWND, UINT, UINT_PTR timer, DWORD) { if (g_ready()) KillTimer(nullptr, timer), g_job(); }
struct DuringDownload {
    explicit DuringDownload(const std::function<void()>& job, const std::function<bool()>& ready = [] { return true; })
        : timer((g_job = job, g_ready = ready, SetTimer(nullptr, 0, 10, RunJob))) {}
    ~DuringDownload() { KillTimer(nullptr, timer); }
    UINT_PTR timer;
};

int g_windowsMade = 0;  // on this thread, while the hook below is set
LRESULT CALLBACK CountWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) ++g_windowsMade;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TEST(Download, EveryLinkAsksInRunsOf64AndOnlyFtdiChangesRate) {
    for (PortKind kind : kEveryPort) {
        Rig rig(kind);
        ASSERT_TRUE(rig.Attached()) << Name(kind);
        const bool ftdi = kind == PortKind::Ftdi, com = kind == PortKind::Com;
        // Paced, the simulated FTDI line garbles whatever is sent while device
        // and tool disagree on the rate: a switch too early or too late shows.
        ASSERT_TRUE(!ftdi || ftdi::Control("pacing=on") == 0);
        const long long garbled = ftdi ? ftdi::Query("garbledtotool") + ftdi::Query("garbledtohost") : 0;
        // The pty under a Wine COM port was seen to lose and repeat bytes under load: a few pages there, compared
        // as a set (a page asked for again comes later).
        const long wanted = com ? 4 : 100;
        const Matrix272 m = Download(rig.robot(), PageRuns({{0, wanted}}), 230400, kPatientMs, kSumCheck);
        const std::string log = rig.Log();
        ASSERT_EQ(m.result, wanted) << Name(kind) << log;
        EXPECT_EQ(m.type, VT_UI1);
        std::vector<uint32_t> pages = m.Pages();
        for (size_t r = 0; r < m.rows.size(); ++r)
            EXPECT_EQ(m.rows[r], vxsim::BuildPageFrame(pages[r], m.rows[r][10], true)) << Name(kind) << " row " << r;
        const std::string code = ftdi ? "85" : "81";  // off FTDI the tool is asked to stay at 38400 (rate code 1)
        const std::vector<std::string> reads = PageReads(log);
        for (const std::string& read : reads) EXPECT_EQ(read.substr(read.size() - 2), code) << Name(kind);
        if (com) {
            std::sort(pages.begin(), pages.end());
        } else {
            EXPECT_EQ(reads, (std::vector<std::string>{"BE4D0000000040" + code, "BE4D4000000024" + code}));
            EXPECT_EQ(Count(log, "Unread pages remaining.  Reissue request for 36 pages starting at page 64\r\n"), 1u);
        }
        for (uint32_t r = 0; r < pages.size(); ++r) ASSERT_EQ(pages[r], r) << Name(kind);
        if (ftdi) {
            EXPECT_EQ(Count(log, "****2 Changing baud rate to230400\r\n"), 2u) << log;
            EXPECT_EQ(Count(log, "**** Changing baud rate to38400\r\n"), 2u) << log;
            EXPECT_EQ(std::make_pair(ftdi::Query("devicerate"), ftdi::Query("toolrate")), std::make_pair(38400LL, 38400LL));
            EXPECT_EQ(ftdi::Query("garbledtotool") + ftdi::Query("garbledtohost"), garbled);
        } else {
            EXPECT_EQ(Count(log, "Changing baud rate"), 0u) << Name(kind);
            EXPECT_EQ(rig.Sim()->ToolRate(), 38400u);
        }
    }
}

TEST(Download, TripleFramesGiveThreeRowsAndStayWholeInThePageList) {
    Rig rig(PortKind::Tcp);
    ASSERT_TRUE(rig.Sim()->Configure("triple=on"));
    // The rows rebuilt from sum-checked triple frames carry CRCs of their own. The array already in out is the
    // host's: destroying it would release the object it holds.
    struct Counted : IUnknown {
        ULONG refs = 1;
        HRESULT __stdcall QueryInterface(REFIID, void** p) override { return *p = this, AddRef(), S_OK; }
        ULONG __stdcall AddRef() override { return ++refs; }
        ULONG __stdcall Release() override { return --refs; }
    } object;
    SAFEARRAY* held = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    LONG first = 0;
    SafeArrayPutElement(held, &first, static_cast<IUnknown*>(&object));
    Array pages(PageRuns({{0x100, 2}})), out(held);
    ASSERT_EQ(ROBOT_ReadToolMemory(rig.robot(), pages.out(), 38400, kPatientMs, kSumCheck, out.out()), 6);
    EXPECT_EQ(object.refs, 2u);
    SafeArrayDestroy(held);
    const uint32_t rowPages[6] = {0x100, 0x900, 0x1100, 0x101, 0x901, 0x1101};
    const auto rows = Rows(out.get());
    for (size_t r = 0; r < 6; ++r) EXPECT_EQ(rows.at(r), Page(rowPages[r], static_cast<uint8_t>(r / 3))) << "row " << r;
    // The list entry point keeps them as they came.
    const Listed l = List(rig.robot(), PageRuns({{3, 2}, {9, 1}}), 38400, kPatientMs, L"Z");
    EXPECT_TRUE(l.listed && l.error == 0);
    EXPECT_EQ(l.frames, (Frames{vxsim::BuildTriplePageFrame(3, 0, false), vxsim::BuildTriplePageFrame(4, 1, false),
                                vxsim::BuildTriplePageFrame(9, 0, false)}));
    EXPECT_EQ(PageReads(rig.Log()).back(), "BE4D5a00000000000900000001" "01");
}

TEST(Download, AnAddressedReadCarriesTheAddressAndNeverChangesRate) {
    Rig rig(PortKind::Ftdi);
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(ftdi::Control("pacing=on"), 0);
    // Five address characters, then a fixed 00; the rate code lies where the link does not look for it.
    const Matrix272 m = Download(rig.robot(), PageRuns({{0x20, 2}}), 115200, kPatientMs, kSumCheck, L"TOOL-7X");
    EXPECT_EQ(m.Pages(), (std::vector<uint32_t>{0x20, 0x21}));
    const std::string log = rig.Log();
    EXPECT_EQ(PageReads(log), std::vector<std::string>{"BE4D544f4f4c2d00200000000283"});
    EXPECT_EQ(Count(log, "Changing baud rate"), 0u) << log;
    EXPECT_EQ(ftdi::Query("devicerate"), 38400);
}

// Given up or cancelled (by the quit message, as by the button), a download on FTDI leaves the device at 38400;
// a cancel lets the request in progress run to its end and drops what the host queued behind it.
TEST(Download, OnFtdiGiveUpAndCancelEndAt38400) {
    Rig rig(PortKind::Ftdi, Rig::Options{60000, true});
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(ftdi::Control("pacing=on"), 0);
    ASSERT_TRUE(rig.AddFaults("be4d:noreply#11 be0a:noreply"));
    // Eleven requests run out: a short limit, which stays the robot's after the download.
    EXPECT_EQ(Download(rig.robot(), PageRuns({{0, 10}}), 153600, 300, kPlain).result, 0);
    EXPECT_EQ(rig.Wait(rig.Send(L"BE0A01"), 20000), -1);  // sent after the last request had ended
    std::string log = rig.Log();
    EXPECT_EQ(Count(log, "****2 Changing baud rate to153600\r\n"), 11u) << log;
    EXPECT_EQ(Count(log, "****5 Changing baud rate to38400\r\n"), 11u) << log;
    EXPECT_EQ(ftdi::Query("devicerate"), 38400);
    size_t reads = 0;
    DuringDownload job([&] {
        rig.Send(L"BE0A01");  // unanswered: holds the link once the request has ended
        rig.Send(L"BE0B02");
        reads = PageReads(rig.Log()).size();
        PostQuitMessage(0);
    });
    const Listed cancelled = List(rig.robot(), PageRuns({{0, 300}}), 230400);
    EXPECT_TRUE(!cancelled.listed && cancelled.error == -1);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // posted again for the host's loop
    EXPECT_EQ(std::make_pair(ftdi::Query("devicerate"), ftdi::Query("toolrate")), std::make_pair(38400LL, 38400LL));
    rig.Send(L"BE0C03");
    ASSERT_TRUE(WaitUntil([&] { return Contains(rig.ToolReceived(), FrameOf(L"BE0C03")); }, 3 * kPatientMs));
    EXPECT_FALSE(Contains(rig.ToolReceived(), FrameOf(L"BE0B02")));
    log = rig.Log();
    EXPECT_EQ(PageReads(log).size(), reads);
    EXPECT_EQ(Count(log, "Abandoned:"), 11u) << log;  // the give-up's only
}

TEST(Download, ResetToolRateSendsItsFrameAt38400AndLeavesTheDeviceThere) {
    Rig rig(PortKind::Ftdi, Rig::Options{1000, false});
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(ftdi::Control("pacing=on"), 0);
    ASSERT_EQ(ftdi::Control("toolrate 115200"), 0);  // a tool left at a high rate
    rig.ClearToolReceived();
    const long long garbled = ftdi::Query("garbledtotool");
    EXPECT_EQ(FTDI_ResetToolRate(rig.port()), 1);
    EXPECT_EQ(rig.ToolReceived(), (std::vector<uint8_t>{0xA5, 0x5A, 0, 4, 0xBE, 0x2B, 1, 0, 0x84, 0x7E, 0xFA, 0xAF}));
    // Understood: sent at the tool's rate, 8N1.
    EXPECT_EQ(std::make_pair(ftdi::Query("toolrate"), ftdi::Query("garbledtotool")), std::make_pair(38400LL, garbled));
    EXPECT_EQ(std::make_pair(ftdi::Query("readtimeout"), ftdi::Query("writetimeout")), std::make_pair(100LL, 100LL));
    // A device that stops draining does not hold it up until it is released.
    ASSERT_EQ(ftdi::Control("txstuck on"), 0);
    std::atomic<bool> ended{false}, released{false};
    std::thread release([&] {
        if (!WaitUntil([&] { return ended.load(); }, 20000)) released = true, ftdi::Control("txstuck off");
    });
    EXPECT_EQ(FTDI_ResetToolRate(rig.port()), 1);
    EXPECT_FALSE(released);
    ended = true;
    release.join();
    EXPECT_EQ(ftdi::Query("devicerate"), 38400);
    ftdi::Control("txstuck off");
}

TEST(Download, FailuresCountOverTheWholeDownloadAndTheEleventhEndsIt) {
    // Ten one-page requests for page 41 answered by a frame too short to hold a page are borne; a request that
    // runs out of time (bringing page 40 of 40..41) and ten such frames are not.
    const uint8_t pageless[2] = {0xBE, 0x4D};
    for (bool runsOut : {false, true}) {
        ScriptedTool tool;
        Rig rig(tool.Port());
        if (runsOut) tool.Answer(Page(40, 0));
        for (int i = 0; i < 10; ++i) tool.Answer(vxsim::BuildReplyFrame(pageless, 2));
        tool.Answer(Page(41, 0));
        const Listed l = List(rig.robot(), PageRuns({{runsOut ? 40L : 41L, runsOut ? 2L : 1L}}), 38400, kRunsOutMs);
        EXPECT_EQ(l.error, 0);
        EXPECT_EQ(tool.Commands(), 11u);  // none after the eleventh failure
        const std::string log = rig.Log();
        EXPECT_EQ(Count(log, "Bad reply to BE4D290000000101 -- size=10\r\n"), 10u) << log;
        EXPECT_EQ(l.listed, !runsOut);
        EXPECT_EQ(l.frames, runsOut ? Frames() : Frames{Page(41, 0)});
        EXPECT_EQ(Count(log, "Incomplete response to  cmdID# "), runsOut ? 1u : 0u) << log;
        EXPECT_EQ(Count(log, "Abandoned: BE4D280000000201\r\n"), runsOut ? 1u : 0u) << log;
    }
}

TEST(Download, APageThatComesTwiceOrUnaskedIsListedEachTime) {
    // Request 1 (pages 40..42) brings 40 and 42 and runs out of time; the request for 41 brings 42 again, unasked
    // (index 1 of a one-page request), before 41.
    ScriptedTool tool;
    Rig rig(tool.Port());
    tool.Answer(Page(40, 0) + Page(42, 2));
    tool.Answer(Page(42, 1) + Page(41, 0));
    const Matrix272 m = Download(rig.robot(), PageRuns({{40, 3}}), 38400, kRunsOutMs, kPlain);
    EXPECT_EQ(m.Pages(), (std::vector<uint32_t>{40, 42, 41, 42}));
    EXPECT_EQ(tool.Commands(), 2u);
}

TEST(Download, AFrameFlaggedTripleButTooShortIsAnOrdinaryRow) {
    // 300 bytes with the triple bit: one row as received, the matrix as wide as it, and the standard frame after
    // it padded with zeros.
    const std::vector<uint8_t> page = Page(50, 0);
    std::vector<uint8_t> payload(page.begin() + 4, page.begin() + 268);
    payload[7] = 0x02;
    payload.resize(292, 0x77);
    const std::vector<uint8_t> flagged = vxsim::BuildReplyFrame(payload.data(), payload.size());
    ScriptedTool tool;
    Rig rig(tool.Port());
    tool.Answer(flagged + Page(51, 1));
    const Matrix272 m = Download(rig.robot(), PageRuns({{50, 2}}), 38400, kPatientMs, kPlain);
    std::vector<uint8_t> padded = Page(51, 1);
    padded.resize(300, 0);
    EXPECT_EQ(m.rows, (Frames{flagged, padded}));
}

TEST(Download, RefusalsLeaveTheToolAlone) {
    Array list(PageRuns({{0, 2}})), out;
    ROBOT_HANDLE bare = ROBOT_Create();
    HHOOK hook = SetWindowsHookExW(WH_CBT, CountWindows, nullptr, GetCurrentThreadId());
    EXPECT_EQ(ROBOT_ReadToolMemory(nullptr, list.out(), 38400, kPatientMs, kPlain, out.out()), 0);
    const Listed none = List(nullptr, PageRuns({{0, 2}}));
    EXPECT_TRUE(!none.listed && none.error == 9);  // untouched without a robot
    EXPECT_EQ(ROBOT_ReadToolMemory(bare, list.out(), 38400, kPatientMs, kPlain, out.out()), 0);
    const Listed idle = List(bare, PageRuns({{0, 2}}));
    EXPECT_TRUE(!idle.listed && idle.error == 0);
    EXPECT_TRUE(hook && UnhookWindowsHookEx(hook) && g_windowsMade == 0);  // no window, not even for a moment
    ROBOT_Destroy(bare);
    Rig stopped(PortKind::Tcp, Rig::Options{1000, false});  // a worker never started could end no request
    EXPECT_EQ(ROBOT_ReadToolMemory(stopped.robot(), list.out(), 38400, kPatientMs, kPlain, out.out()), 0);
    Rig rig(PortKind::Tcp);
    EXPECT_EQ(ROBOT_ReadToolMemory(rig.robot(), nullptr, 38400, kPatientMs, kPlain, out.out()), 0);
    EXPECT_EQ(ROBOT_ReadToolMemory(rig.robot(), list.out(), 38400, kPatientMs, kPlain, nullptr), 0);
    // No list, not two dimensions, not integers, more pages than any tool has.
    for (SAFEARRAY* bad : {static_cast<SAFEARRAY*>(nullptr), Vector(VT_I4, 0, {0, 2}), Matrix(VT_R8, 1, 2, {0, 2}),
                           PageRuns({{0, 1 << 19}, {1 << 19, (1 << 19) + 1}})})
        EXPECT_EQ(Download(rig.robot(), bad, 38400, kPatientMs, kPlain).result, 0);
    EXPECT_EQ(out.get(), nullptr);
    // Rows that want nothing: the download finishes with an empty page list.
    EXPECT_TRUE(List(rig.robot(), PageRuns({{3, 0}, {9, -4}})).FinishedWithNoPages());
    EXPECT_TRUE(PageReads(rig.Log()).empty());
    // Byte elements are read, a third column is not; rows and columns are indexed from 0 whatever the lower
    // bounds (-1 here), and a row that cannot be read is empty.
    EXPECT_EQ(Download(rig.robot(), Matrix(VT_UI1, 2, 3, {3, 2, 99, 200, 1, 99}), 38400, kPatientMs, kPlain).Pages(),
              (std::vector<uint32_t>{3, 4, 200}));
    EXPECT_EQ(Download(rig.robot(), Matrix(VT_I4, 3, 3, {7, 7, 7, 7, 50, 1, 7, 60, 1}, -1), 38400, kPatientMs, kPlain)
                  .Pages(), (std::vector<uint32_t>{50, 60}));
}

TEST(Download, OnePageReadAtATime) {
    // The first request brings 10 of its 64 pages and runs out; meanwhile a page read of the host's own takes the
    // robot, unanswered. The next run is refused: the download ends with the pages so far; the next download, at once.
    ScriptedTool tool;
    Rig rig(tool.Port());
    std::vector<uint8_t> tenPages;
    for (uint8_t p = 0; p < 10; ++p) tenPages = tenPages + Page(p, p);
    tool.Answer(tenPages);
    DuringDownload job([&] {  // once the first request runs out, the host's read takes the robot, for a minute
        for (int i = 0; i < 3000 && rig.Log().find("****Abandoning") == std::string::npos; ++i) Sleep(10);
        ROBOT_SetTimeout(rig.robot(), 60000);
        for (int i = 0; i < 1500 && !ROBOT_ReadFlashPages(rig.robot(), 500, 1, 38400, 1, nullptr); ++i) Sleep(10);
    }, [] { return ProgressWindow() && SendDlgItemMessageW(ProgressWindow(), 1000, PBM_GETPOS, 0, 0) == 10; });
    EXPECT_EQ(Download(rig.robot(), PageRuns({{0, 100}}), 38400, kRunsOutMs, kPlain).Pages(),
              (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(List(rig.robot(), PageRuns({{20, 2}})).FinishedWithNoPages());
    EXPECT_EQ(PageReads(rig.Log()), (std::vector<std::string>{"BE4D0000000040" "01", "BE4Df401000001" "01"}));
}

TEST(Download, AReadOfItsOwnAsksForAtMost128Pages) {
    Rig rig(PortKind::Tcp, Rig::Options{kPatientMs, true});
    const long first = ROBOT_ReadFlashPages(rig.robot(), 0, 200, 115200, 0, nullptr);
    CRobotCommand* done = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (done = ROBOT_GetReply(rig.robot(), first)) && done->IsReplyComplete(); },
                          kPatientMs));
    EXPECT_EQ(done->GetReplyCount(), 128);
    ROBOT_DeleteReply(rig.robot(), first);
}

// The progress window, watched from a second thread as a user sees it.
TEST(DownloadWindow, ShowsTheProgressAndCancelsAfterTheRequestInProgress) {
    Rig::Options paced;
    paced.lineRate = 115200;  // about 42 pages a second: the download would take 95 s
    Rig rig(PortKind::Tcp, paced);
    ASSERT_EQ(ProgressWindow(), nullptr);
    size_t readsAtCancel = 0;
    std::thread watcher([&] {
        HWND w = nullptr;
        if (!WaitUntil([&] { return (w = ProgressWindow()) != nullptr && IsWindowVisible(w); }, kPatientMs))
            return ADD_FAILURE() << "no window";
        RECT area, rect;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(w, &rect);
        const int edge = GetSystemMetrics(SM_CXEDGE);
        EXPECT_EQ(std::make_pair(rect.left, rect.top),
                  std::make_pair(area.right / 2 - (rect.right - rect.left - edge) / 2 - edge,
                                 area.bottom / 2 - (rect.bottom - rect.top - edge) / 2 - GetSystemMetrics(SM_CXFIXEDFRAME)));
        EXPECT_TRUE(WaitUntil([&] { return SendDlgItemMessageW(w, 1000, PBM_GETPOS, 0, 0) > 0; }, kPatientMs));
        char block[64] = {0};
        unsigned long count = 0, total = 0;
        GetDlgItemTextA(w, 1001, block, sizeof block);
        EXPECT_TRUE(std::sscanf(block, "Block %lu of %lu", &count, &total) == 2 && count > 0 && total == 4000) << block;
        PBRANGE range = {-1, -1};
        SendDlgItemMessageW(w, 1000, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(std::make_pair(range.iLow, range.iHigh), std::make_pair(0, 4000));
        // The click is handled on the downloading thread before it returns: the requests issued by then are all.
        HWND cancel = GetDlgItem(w, IDCANCEL);
        SendMessageW(cancel, BM_CLICK, 0, 0);
        readsAtCancel = PageReads(rig.Log()).size();
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(cancel); }, kPatientMs));
    });
    const Matrix272 m = Download(rig.robot(), PageRuns({{0, 4000}}), 38400, kPatientMs, kPlain);
    watcher.join();
    EXPECT_TRUE(m.result == -1 && m.rows.empty());
    EXPECT_EQ(ProgressWindow(), nullptr);
    // The request in progress ran to its end, none followed it, and nothing of it is left to be taken for a later
    // command's reply.
    const std::string log = rig.Log();
    EXPECT_EQ(PageReads(log).size(), readsAtCancel);
    EXPECT_EQ(Count(log, "Abandon"), 0u);
    EXPECT_EQ(rig.RoundTrip(L"BE010203"), ReplyFrame({0xBE, 0x01, 0x02, 0x03}));
}
