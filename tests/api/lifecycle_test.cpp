// Robot objects and ports through the exports: null handles, abandonment and its log, polling and logging,
// destruction, attaching and releasing ports. True and false are compared as 1 and 0: the header declares
// them int, so a host (a VB Long, a C BOOL) reads the whole register.
#include <gtest/gtest.h>

#include <atomic>

#include "support/handle_count.h"
#include "support/vornex_test.h"

using namespace vxt;

extern "C" int VornexHeaderSmokeFromC(void);

TEST(Lifecycle, NullHandlesGiveTheFailureResultsAndTouchNothing) {
    EXPECT_EQ(VornexHeaderSmokeFromC(), 0);  // the same from C
    Array bytes(Bytes({0xBE, 0x09}));
    SAFEARRAY* const array = bytes.get();
    ROBOT_StopPolling(nullptr), ROBOT_StartLogging(nullptr, "x.log"), ROBOT_SetTimeout(nullptr, 5), ROBOT_SetKeepAlive(nullptr, 1);
    for (auto fn : {ROBOT_Destroy, ROBOT_StartPolling, ROBOT_IsIdle}) EXPECT_EQ(fn(nullptr), 0);
    EXPECT_EQ(ROBOT_SendCommand(nullptr, L"BE09"), 0);
    for (auto fn : {ROBOT_SendCommandBytes, ROBOT_WriteToPort}) EXPECT_EQ(fn(nullptr, bytes.out(), 0), 0);
    EXPECT_EQ(ROBOT_GetToolInfo(nullptr), 0);
    EXPECT_EQ(ROBOT_GetReply(nullptr, 1), nullptr);
    EXPECT_EQ(ROBOT_WaitReply(nullptr, 1, 10), nullptr);
    EXPECT_EQ(ROBOT_DeleteReply(nullptr, 1), 0);
    EXPECT_EQ(ROBOT_GetReplyBytes(nullptr, 1, bytes.out()), 0);
    EXPECT_EQ(ROBOT_WaitReplyBytes(nullptr, 1, 10, bytes.out()), 0);
    EXPECT_EQ(ROBOT_ReadFlashPages(nullptr, 0, 1, 38400, 1, nullptr), 0);
    EXPECT_EQ(bytes.get(), array);
    EXPECT_EQ(BytesOf(bytes.get()), (std::vector<uint8_t>{0xBE, 0x09}));
    for (auto release : {ReleaseSerialPort, Serial_ReleasePort, ReleaseTcpPort, TCP_ReleasePort, ReleaseFTDIDevice, FTDI_Release})
        EXPECT_EQ(release(nullptr), 0);
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    EXPECT_EQ(ROBOT_AttachSerialPort(nullptr, 1), nullptr);
    EXPECT_EQ(ROBOT_AttachTcpPort(nullptr, L"127.0.0.1", static_cast<unsigned>(port), 0), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDevice(nullptr, L"Vornex Sim Tool"), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByLoc(nullptr, 0x1011), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByIndex(nullptr, 0), nullptr);
    for (auto fn : {FTDI_GetLocID, FTDI_ResetDevice, FTDI_CyclePort, FTDI_ResetToolRate}) EXPECT_EQ(fn(nullptr), 0);
    for (auto set : {SetFTDIBaud, FTDI_SetBaud, SetFTDILatency, FTDI_SetLatency}) EXPECT_EQ(set(nullptr, 9600), 6u);
    for (auto set : {SetFTDIUSBParameters, FTDI_SetUSBParameters}) EXPECT_EQ(set(nullptr, 4096, 4096), 6u);
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(sim.Connections(), 0u);
}

TEST(Lifecycle, CommandsWithoutAPortAreAbandonedAndLoggedAndEachLogTakesTheLinesUntilTheNext) {
    const std::string log = TempPath("abandon.log");
    ROBOT_HANDLE robot = ROBOT_Create();
    ROBOT_SetTimeout(robot, 500);
    ROBOT_StartLogging(robot, log.c_str());
    EXPECT_EQ(ROBOT_IsIdle(robot), 1);
    ASSERT_EQ(ROBOT_StartPolling(robot), 1);
    EXPECT_EQ(ROBOT_StartPolling(robot), 0);  // one worker per robot
    const long one = ROBOT_SendCommand(robot, L"BE09");
    const long two = ROBOT_SendCommand(robot, L"0a0b0c0d");
    EXPECT_EQ(ROBOT_IsIdle(robot), 0);
    ASSERT_EQ(ROBOT_WaitReply(robot, one, 2000), nullptr);  // abandonment does not end a wait
    ASSERT_TRUE(WaitUntil([&] { return ROBOT_GetReply(robot, two) != nullptr; }, 5000));
    CRobotCommand* first = ROBOT_GetReply(robot, one);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->IsAbandoned());
    EXPECT_FALSE(first->IsReplyComplete());
    EXPECT_EQ(first->GetReplyCount(), 0);
    EXPECT_TRUE(ROBOT_GetReply(robot, two)->IsAbandoned());
    ASSERT_TRUE(WaitUntil([&] { return ROBOT_IsIdle(robot) == 1; }, 2000));
    EXPECT_EQ(ROBOT_WaitReply(robot, one, 0), first);  // finished: at once
    ROBOT_StopPolling(robot);  // closes the log
    ROBOT_StopPolling(robot);
    ROBOT_SendCommand(robot, L"0e0f");  // not logged any more
    EXPECT_EQ(ReadFile(log), "Issuing:BE09\r\nIssuing:0a0b0c0d\r\n****Abandoning \"BE09\"\r\n****Abandoning \"0a0b0c0d\"\r\n");
    // Each log truncates its file and takes the lines until the next; a failing open drops the lines; a stop
    // without a start still closes the log.
    const std::string second = TempPath("second.log"), third = TempPath("third.log");
    std::ofstream(second) << "stale content\n";
    const std::string paths[] = {log, second, "Z:\\no\\such\\folder\\x.log", third};
    for (int i = 0; i < 4; ++i) {
        ROBOT_StartLogging(robot, paths[i].c_str());
        if (i == 3) ROBOT_StopPolling(robot);
        ROBOT_SendCommand(robot, (L"0" + std::to_wstring(i)).c_str());
    }
    EXPECT_EQ(ROBOT_Destroy(robot), 1);
    EXPECT_EQ(ReadFile(log) + "|" + ReadFile(second) + "|" + ReadFile(third), "Issuing:00\r\n|Issuing:01\r\n|");
    for (const std::string& path : {log, second, third}) DeleteFileA(path.c_str());
}

// While set, every thread of this program lingers in its exit, as behind a
// slow DLL_THREAD_DETACH, and counts the exits it finished.
static std::atomic<bool> g_lingerAtThreadExit{false};
static std::atomic<int> g_lingeredExits{0};
static void NTAPI LingerAtThreadExit(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_THREAD_DETACH || !g_lingerAtThreadExit) return;
    Sleep(300);
    ++g_lingeredExits;
}
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK kLingerAtThreadExit = LingerAtThreadExit;

// A host may unload the library or end its process as soon as a stop returns.
TEST(Lifecycle, StopReturnsOnceTheWorkerThreadHasEndedAndCyclesLeaveNoHandle) {
    ROBOT_HANDLE robot = ROBOT_Create();
    ASSERT_EQ(ROBOT_StartPolling(robot), 1);
    g_lingerAtThreadExit = true;
    ROBOT_StopPolling(robot);
    EXPECT_GE(g_lingeredExits.load(), 1);  // the worker's, and any other thread's that ended meanwhile
    g_lingerAtThreadExit = false;
    ROBOT_Destroy(robot);
    // Repeated cycles leave the handle count flat.
    auto cycle = [] {
        ROBOT_HANDLE robot = ROBOT_Create();
        ROBOT_StartPolling(robot);
        ROBOT_StopPolling(robot);  // right after the start: not lost
        ROBOT_StartPolling(robot);
        ROBOT_WaitReply(robot, ROBOT_SendCommand(robot, L"0102"), 0);
        ROBOT_StopPolling(robot);
        ROBOT_Destroy(robot);
    };
    for (int i = 0; i < 10; ++i) cycle();
    const unsigned long before = CountProcessHandles();
    for (int i = 0; i < 500; ++i) cycle();
    // A handle kept per cycle shows as 500 more; the few that other threads
    // of this program open or close meanwhile are not the library's.
    EXPECT_LT(CountProcessHandles(), before + 20);
    // The reply watch of a pumping wait on TCP, once per round trip.
    Rig rig(PortKind::Tcp);
    ASSERT_EQ(rig.RoundTrip(L"0102").size(), 10u);
    const unsigned long connected = CountProcessHandles();
    for (int i = 0; i < 300; ++i) ASSERT_EQ(rig.RoundTrip(L"0102").size(), 10u);
    EXPECT_LT(CountProcessHandles(), connected + 20);
}

// A command whose reply came and was left unread.
static long UnreadReply(Rig& rig) { const long id = rig.Send(L"BE010203"); return rig.Wait(id) > 0 ? id : 0; }

// (A host thread blocked in a wait is released by the attach: api_internal_test.)
TEST(Attach, SecondAttachDropsUnreadRepliesAndLeavesTheFirstPortOpen) {
    Rig rig(PortKind::Tcp);
    ASSERT_TRUE(rig.Attached());
    const long unread = UnreadReply(rig);
    ASSERT_NE(unread, 0);
    vxsim::SimServer second;
    PORT_HANDLE port = ROBOT_AttachTcpPort(rig.robot(), L"127.0.0.1", static_cast<unsigned>(second.ListenTcp()), 5000);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ROBOT_GetReply(rig.robot(), unread), nullptr);
    EXPECT_FALSE(rig.RoundTrip(L"BE01").empty());
    EXPECT_EQ(rig.Sim()->CommandCount(), 1u);  // commands go to the second tool only
    EXPECT_EQ(second.CommandCount(), 1u);
    WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(rig.Sim()->IsConnected());  // until the host releases it
    ROBOT_StopPolling(rig.robot());
    EXPECT_EQ(TCP_ReleasePort(port), 1);
    EXPECT_TRUE(WaitUntil([&] { return !second.IsConnected(); }, 5000));
}

// Failing (a quit message included), or with connect time 0 (a port the robot does not use, which the host
// alone frees), an attach leaves the robot as it was.
TEST(Attach, FailedOrUnwaitedAttachLeavesTheRobotAsItWas) {
    ASSERT_TRUE(ftdi::Reset());
    Rig rig(PortKind::Tcp);
    ASSERT_TRUE(rig.Attached());
    const long unread = UnreadReply(rig);
    ASSERT_NE(unread, 0);
    for (int com : {250, 0}) EXPECT_EQ(ROBOT_AttachSerialPort(rig.robot(), com), nullptr) << com;
    EXPECT_EQ(ROBOT_AttachFTDIDevice(rig.robot(), L"No Such Tool"), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByLoc(rig.robot(), 0xBAD0), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByIndex(rig.robot(), 99), nullptr);
    for (const wchar_t* host : {L"127.0.0.1", L"vx-nowhere.invalid"}) {  // refused; never resolved
        const DWORD start = GetTickCount();
        EXPECT_EQ(ROBOT_AttachTcpPort(rig.robot(), host, static_cast<unsigned>(ClosedTcpPort()), 500), nullptr);
        EXPECT_GE(GetTickCount() - start, 450u) << host;  // neither ends the wait: the time does
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ftdi::Query("dev:" + std::to_string(i) + " open"), 0) << i;
    vxsim::SimServer loose;
    const unsigned loosePort = static_cast<unsigned>(loose.ListenTcp());
    PostQuitMessage(0);  // ends the connect wait and is posted again
    EXPECT_EQ(ROBOT_AttachTcpPort(rig.robot(), L"127.0.0.1", loosePort, 10000), nullptr);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    PORT_HANDLE port = ROBOT_AttachTcpPort(rig.robot(), L"127.0.0.1", loosePort, 0);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(RecordBytes(ROBOT_GetReply(rig.robot(), unread)), ReplyFrame({0xBE, 0x01, 0x02, 0x03}));
    EXPECT_FALSE(rig.RoundTrip(L"BE01").empty());
    EXPECT_EQ(rig.Sim()->Connections(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return loose.IsConnected(); }, 5000));  // connects while this thread pumps
    EXPECT_EQ(loose.CommandCount(), 0u);
    EXPECT_EQ(ReleaseTcpPort(port), 1);
    // On a robot without a port it stays without.
    ROBOT_HANDLE bare = ROBOT_Create();
    vxsim::SimServer other;
    PORT_HANDLE lone = ROBOT_AttachTcpPort(bare, L"127.0.0.1", static_cast<unsigned>(other.ListenTcp()), 0);
    ASSERT_TRUE(WaitUntil([&] { return other.IsConnected(); }, 5000));
    ROBOT_SetTimeout(bare, 200);
    ROBOT_StartPolling(bare);
    const long id = ROBOT_SendCommand(bare, L"BE01");
    EXPECT_TRUE(WaitUntil([&] { CRobotCommand* r = ROBOT_GetReply(bare, id); return r && r->IsAbandoned(); }, 5000));
    EXPECT_TRUE(other.Received().empty());
    ROBOT_StopPolling(bare);
    ROBOT_Destroy(bare);
    ReleaseTcpPort(lone);
}
