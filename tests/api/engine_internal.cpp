// White-box, for what no host can time: the engine's poll cycle driven by
// hand through a fake port, with the tick source under the test's control
// (the time limit, the keep-alive after 25 s of idle link, reply parts walked
// in key order); and host threads queueing as the worker decides to sleep.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <fstream>
#include <thread>

#include "engine/log_file.h"
#include "engine/robot_tool.h"
#include "engine/tcp_transport.h"
#include "engine/tick_source.h"
#include "protocol/command_frame.h"
#include "support/loopback.h"

// The library calls ResetEvent through this program's import table.
#ifdef _WIN64
extern "C" BOOL(WINAPI* g_resetEventImport)(HANDLE) __asm__("__imp_ResetEvent");
#else
extern "C" BOOL(WINAPI* g_resetEventImport)(HANDLE) __asm__("__imp__ResetEvent@4");
#endif

namespace {

// Each reset of this event is held back a moment, so that a host thread
// queueing then meets the worker deciding to sleep; a reset by the clearing
// thread is held longer and counted.
std::atomic<HANDLE> g_slowEvent{nullptr};
std::atomic<DWORD> g_clearer{0};
std::atomic<int> g_clears{0};
BOOL(WINAPI* const g_resetEvent)(HANDLE) = g_resetEventImport;
BOOL WINAPI SlowReset(HANDLE event) {
    if (event == g_slowEvent) GetCurrentThreadId() == g_clearer ? (++g_clears, Sleep(30)) : Sleep(1);
    return g_resetEvent(event);
}
const bool g_resetsHooked = [] {
    DWORD was = 0;
    VirtualProtect(&g_resetEventImport, sizeof g_resetEventImport, PAGE_READWRITE, &was);
    g_resetEventImport = &SlowReset;
    return VirtualProtect(&g_resetEventImport, sizeof g_resetEventImport, was, &was) != 0;
}();

// What the engine writes is kept; with echo on, the worker's wait for input
// waits on the work event and each frame comes back as its own answer (one
// starting EE gets none).
class FakePort : public LinkTransport {
public:
    bool WaitForData(HANDLE work, unsigned int ms) override {
        if (echo && incoming.empty()) WaitForSingleObject(work, ms);
        return !incoming.empty();
    }
    int BytesWaiting() override { return static_cast<int>(incoming.size()); }
    int ReadInto(unsigned char* dst, int count) override {
        int n = 0;
        for (; n < count && !incoming.empty(); ++n) dst[n] = incoming.front(), incoming.pop_front();
        return n;
    }
    bool AcceptsSending() override { return connected; }
    unsigned long WriteCommand(const std::vector<unsigned char>& bytes, bool, bool) override {
        if (!echo) writes.push_back(bytes);
        else if (bytes[4] != 0xEE) incoming.insert(incoming.end(), bytes.begin(), bytes.end());
        return ++written, 0;
    }
    void DiscardInput() override { incoming.clear(); }
    bool WriteRaw(const char*, int) override { return true; }
    std::deque<unsigned char> incoming;
    std::vector<std::vector<unsigned char>> writes;
    bool connected = true, echo = false;
    std::atomic<int> written{0};
};

class Robot : public CRobotTool {
public:
    using CRobotTool::Poll;
    FakePort* port = new FakePort;
    Robot() { m_transport.reset(port); }
    void Reply(const wchar_t* payload) {
        std::vector<unsigned char> frame = EncodeCommand(payload, wcslen(payload), false, false);
        HandleReply(reinterpret_cast<char*>(frame.data()), static_cast<int>(frame.size()));
    }
    bool Abandoned(int id) { return FindReply(id) && FindReply(id)->IsAbandoned(); }
    HANDLE WorkEvent() const { return m_workEvent; }
};

std::atomic<uint32_t> g_now{0};
uint32_t FakeTicks() { return g_now.load(); }

class Engine : public ::testing::Test {
protected:
    void SetUp() override { previous = SetEngineTickSource(&FakeTicks); }
    void TearDown() override { SetEngineTickSource(previous); }
    TickSourceFn previous = nullptr;
    Robot robot;
};

}  // namespace

TEST_F(Engine, KindOneIsAbandonedOneCycleAfterItIsSent) {
    const int one = robot.Issue(CString(L"be71"), eNoReply, false, false);
    robot.Transmit(0);
    robot.Reply(L"be71");  // a reply to kind 1 is dropped
    EXPECT_EQ(robot.FindReply(one), nullptr);
    robot.Transmit(0);  // abandoned one cycle after it was sent
    EXPECT_TRUE(robot.Abandoned(one));
}

TEST_F(Engine, PagesRestartTheTimeLimitAndAnAbandonedReadKeepsItsPages) {
    robot.SetTimeout(500);
    const int id = robot.ReadFlashPages(0, 3, 38400, true, nullptr);
    robot.Transmit(0);
    robot.Transmit(400);
    robot.Reply(L"be4d000000000000");  // byte 10 = 0
    robot.Transmit(400);
    robot.Reply(L"be4d000000000100");
    robot.Transmit(400);
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_FALSE(robot.FindReply(id)->IsAbandoned());
    robot.Transmit(100);
    EXPECT_TRUE(robot.Abandoned(id));
    EXPECT_EQ(robot.FindReply(id)->GetReplyCount(), 2);
    robot.Reply(L"be4d000000000200");  // too late: dropped
    EXPECT_EQ(robot.FindReply(id)->GetReplyCount(), 2);
}

// Unanswered, a command is abandoned on the cycle that reaches the limit.
TEST_F(Engine, ElapsedTimeCountsOnlyPollingAndWrapsToZero) {
    g_now = 5000000;
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);  // default limit 2000 ms
    robot.Poll();  // the first cycle counts only its own time
    for (int i = 0; i < 6; ++i) {
        g_now += 333;
        robot.Poll();
        ASSERT_EQ(robot.FindReply(id), nullptr) << "abandoned early, cycle " << i;  // 1998 ms at most
    }
    g_now += 2;
    robot.Poll();
    EXPECT_TRUE(robot.Abandoned(id));
    g_now = 0xFFFFFF00u;
    robot.Poll();
    const int late = robot.Issue(CString(L"0304"), eStandard, false, false);
    robot.Poll();
    g_now = 0x10;  // wrapped: no time passed
    robot.Poll();
    g_now += 1999;
    robot.Poll();
    EXPECT_EQ(robot.FindReply(late), nullptr);
    g_now += 60000;  // a minute without polling: over in the first cycle
    robot.Poll();
    EXPECT_TRUE(robot.Abandoned(late));
}

TEST_F(Engine, KeepAliveAfterTwentyFiveIdleSecondsAndHeldWhileDisconnected) {
    const std::string log = "engine-keepalive.log";
    robot.SetLog(new CLogFile(log.c_str()));
    robot.SetKeepAlive(true);
    auto idleUntilWritten = [&] {  // idle 100 ms cycles until the port is written to; the ms they took
        int ms = 0;
        for (const size_t before = robot.port->writes.size(); robot.port->writes.size() == before && ms < 60000; ms += 100) robot.Transmit(100);
        return ms;
    };
    robot.port->connected = false;
    EXPECT_EQ(idleUntilWritten(), 60000);  // a closed TCP port holds it
    robot.port->connected = true;
    EXPECT_EQ(idleUntilWritten(), 25100);  // queued on the 25th second, sent in the next cycle
    EXPECT_EQ(robot.port->writes.back(), EncodeCommand(L"be71", 4, false, false));
    EXPECT_EQ(idleUntilWritten(), 25100);  // kind 1: abandoned a cycle later, the count restarts
    for (int i = 0; i < 200; ++i) robot.Transmit(100);
    robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Transmit(100);
    robot.Reply(L"0102");  // a completion restarts it too
    EXPECT_EQ(idleUntilWritten(), 25100);
    robot.CloseLog();
    std::string text;
    std::getline(std::ifstream(log, std::ios::binary), text, '\0');
    EXPECT_EQ(text.rfind("Issuing Local:be71\r\n****Abandoning \"be71\"\r\nIssuing Local:be71\r\n", 0), 0u) << text;
    std::remove(log.c_str());
}

// A write that finds the connection lost starts an attempt of its own. The
// link counts the 30 s an attempt may take from that write, not from its own
// last attempt, and starts no other while it runs; it then connects.
TEST_F(Engine, AnAttemptAWriteStartedRunsItsFullTimeAndConnects) {
    int number = -1;
    SOCKET listener = vxt::Listen(number);
    ASSERT_NE(listener, INVALID_SOCKET);
    CTCPPort port;
    auto dispatchUntilOpen = [&] {
        for (DWORD start = GetTickCount(); !port.IsOpen() && GetTickCount() - start < 5000; Sleep(2)) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        return port.IsOpen();
    };
    port.Open(L"127.0.0.1", static_cast<unsigned>(number));
    ASSERT_TRUE(dispatchUntilOpen());
    g_now = 0;
    TcpTransport link(&port);
    SOCKET peer = accept(listener, nullptr, nullptr);
    const LINGER reset = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    closesocket(peer);  // reset; undispatched, the close leaves the port counting as open
    g_now = 31000;
    for (int i = 0; i < 100 && port.GetAttemptCount() == 1; ++i) port.Write("x", 1);
    ASSERT_EQ(port.GetAttemptCount(), 2u);
    EXPECT_FALSE(link.AcceptsSending());
    g_now = 31000 + TcpTransport::kPendingLimitMs - 1;
    EXPECT_FALSE(link.AcceptsSending());
    EXPECT_EQ(port.GetAttemptCount(), 2u);
    ASSERT_TRUE(dispatchUntilOpen());
    EXPECT_TRUE(link.AcceptsSending());
    EXPECT_EQ(port.GetAttemptCount(), 2u);
    closesocket(listener);
}

TEST(CommandRecord, PartsWalkInKeyOrderNegativeFirstAndAKeyIsStoredOnce) {
    CRobotCommand record(CString(L"BE4D"), ePageRead);
    auto store = [&](int key, const char* text) {
        char* copy = new char[strlen(text)];
        memcpy(copy, text, strlen(text));
        record.StoreReply(key, static_cast<int>(strlen(text)), copy);
    };
    store(5, "e");
    store(0, "aa");
    store(2, "old");
    store(2, "ccc");
    store(-128, "nnnn");
    EXPECT_EQ(record.GetReplyCount(), 4);
    std::string order;
    ASSERT_TRUE(record.StartReplyWalk());
    do order += std::string(record.GetReplyData(), static_cast<size_t>(record.GetReplySize())) + "|";
    while (record.NextReply());
    EXPECT_EQ(order, "nnnn|aa|ccc|e|");
    record.FreeReplies();
}

// A minute's poll wait: a command whose wake-up is lost (queued or decided
// on outside the lock, the work event not set, or reset after a clear let go
// of the lock) stalls far past the bounds here.
TEST(HandOver, HostThreadsQueueingAsTheWorkerDecidesToSleepAreNeverLeftWaiting) {
    SetEnginePollWait(60000);
    Robot robot;
    robot.port->echo = true;
    g_slowEvent = robot.WorkEvent();
    ASSERT_TRUE(g_resetsHooked && robot.StartPolling());
    std::atomic<int> stalls{0};
    auto roundTrips = [&](int n) {
        for (int i = 0; i < n && !stalls; ++i) {
            const int id = robot.Issue(CString(L"a1b2c3d4"), eStandard, false, false);
            stalls += robot.WaitReply(id, 10000) == nullptr;
            robot.DeleteReply(id);
        }
    };
    std::thread hosts[3] = {std::thread(roundTrips, 150), std::thread(roundTrips, 150), std::thread(roundTrips, 150)};
    for (std::thread& host : hosts) host.join();
    EXPECT_EQ(stalls.load(), 0);
    // A clear (a cancelled download) while the worker waits for an answer
    // that does not come, and a host thread queueing as the clear resets.
    robot.SetTimeout(500);
    g_clearer = GetCurrentThreadId();
    for (int round = 0; round < 3; ++round) {
        const int sent = robot.port->written;
        robot.Issue(CString(L"EE01"), eStandard, false, false);
        for (DWORD start = GetTickCount(); robot.port->written == sent && GetTickCount() - start < 5000;) Sleep(1);
        g_clears = 0;
        std::thread host([&] {
            for (DWORD start = GetTickCount(); !g_clears && GetTickCount() - start < 5000;) Sleep(0);
            roundTrips(1);
        });
        robot.ClearPending();
        host.join();
    }
    EXPECT_EQ(stalls.load(), 0) << "a command queued during a clear was left waiting";
    robot.StopPolling();
    g_slowEvent = nullptr;
    SetEnginePollWait(0);
}
