// Robot objects through the exports: lifecycle, command IDs, abandonment and
// its log, waits released by destruction, and handle leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support/handle_count.h"
#include "support/test_files.h"
#include "support/vornex_host.h"

namespace {

VornexHost& Host() {
    static VornexHost host;
    return host;
}

// Waits for the record of id to finish, by polling ROBOT_GetReply.
CRobotCommand* WaitFinished(void* robot, long id, DWORD ms) {
    CRobotCommand* record = nullptr;
    WaitUntil([&] {
        record = Host().GetReply(robot, id);
        return record && (record->IsAbandoned() || record->IsReplyComplete());
    }, ms);
    return record;
}

} // namespace

// Runs first in this process: the DLL has made no command before.
TEST(Lifecycle, FirstIdIsOneAndIdsAreSharedByAllRobots) {
    VornexHost& h = Host();
    void* a = h.Create();
    void* b = h.Create();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const long first = h.SendCommand(a, L"0101");
    const long second = h.SendCommand(b, L"0202");
    const long third = h.SendCommand(a, L"0303");
    EXPECT_EQ(first, 1);
    EXPECT_GT(second, first);
    EXPECT_GT(third, second);
    EXPECT_TRUE(h.Destroy(a));
    EXPECT_TRUE(h.Destroy(b));
}

TEST(Lifecycle, NullHandlesGiveTheFailureResults) {
    VornexHost& h = Host();
    EXPECT_FALSE(h.Destroy(nullptr));
    EXPECT_FALSE(h.StartPolling(nullptr));
    h.StopPolling(nullptr);
    h.StartLogging(nullptr, "x.log");
    EXPECT_FALSE(h.IsIdle(nullptr));
    h.SetTimeout(nullptr, 5);
    h.SetKeepAlive(nullptr, 1);
    EXPECT_EQ(h.SendCommand(nullptr, L"BE09"), 0);
    EXPECT_EQ(h.GetReply(nullptr, 1), nullptr);
    EXPECT_EQ(h.WaitReply(nullptr, 1, 10), nullptr);
    EXPECT_FALSE(h.DeleteReply(nullptr, 1));
}

TEST(Lifecycle, IssuedCommandsWithoutAPortAreAbandonedAndLogged) {
    VornexHost& h = Host();
    const std::string log = TempPath("abandon.log");
    void* robot = h.Create();
    h.SetTimeout(robot, 500);
    h.StartLogging(robot, log.c_str());
    EXPECT_TRUE(h.IsIdle(robot));
    ASSERT_TRUE(h.StartPolling(robot));
    const DWORD start = GetTickCount();
    const long one = h.SendCommand(robot, L"BE09");
    const long two = h.SendCommand(robot, L"0a0b0c0d");
    EXPECT_FALSE(h.IsIdle(robot));

    EXPECT_EQ(h.WaitReply(robot, one, 50), nullptr);  // nothing yet
    CRobotCommand* first = WaitFinished(robot, one, 5000);
    ASSERT_NE(first, nullptr);
    EXPECT_GE(GetTickCount() - start, 450u);
    EXPECT_TRUE(first->IsAbandoned());
    EXPECT_FALSE(first->IsReplyComplete());
    EXPECT_EQ(first->GetReplyCount(), 0);
    CRobotCommand* second = WaitFinished(robot, two, 5000);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->IsAbandoned());
    EXPECT_EQ(std::wstring(second->GetString()), L"0a0b0c0d");
    ASSERT_TRUE(WaitUntil([&] { return h.IsIdle(robot); }, 2000));
    // A finished record is returned at once.
    EXPECT_EQ(h.WaitReply(robot, one, 0), first);

    EXPECT_TRUE(h.DeleteReply(robot, one));
    EXPECT_FALSE(h.DeleteReply(robot, one));
    EXPECT_EQ(h.GetReply(robot, one), nullptr);

    h.StopPolling(robot);  // closes the log
    EXPECT_EQ(ReadWholeFile(log),
              "Issuing:BE09\r\n"
              "Issuing:0a0b0c0d\r\n"
              "****Abandoning \"BE09\"\r\n"
              "****Abandoning \"0a0b0c0d\"\r\n");
    EXPECT_TRUE(h.Destroy(robot));
    DeleteFileA(log.c_str());
}

TEST(Lifecycle, StopPollingBeforeStartAndTwiceStillClosesTheLog) {
    VornexHost& h = Host();
    const std::string log = TempPath("stop.log");
    void* robot = h.Create();
    h.StartLogging(robot, log.c_str());
    h.StopPolling(robot);  // never started: returns at once, closes the log
    h.SendCommand(robot, L"0102");  // no log any more
    ASSERT_TRUE(h.StartPolling(robot));
    EXPECT_FALSE(h.StartPolling(robot));  // one worker per robot
    h.StopPolling(robot);
    h.StopPolling(robot);
    EXPECT_EQ(ReadWholeFile(log), "");
    EXPECT_TRUE(h.Destroy(robot));
    DeleteFileA(log.c_str());
}

TEST(Lifecycle, SecondLogTruncatesAndTakesTheLines) {
    VornexHost& h = Host();
    const std::string first = TempPath("first.log");
    const std::string second = TempPath("second.log");
    {
        std::ofstream old(second);
        old << "stale content\n";
    }
    void* robot = h.Create();
    h.StartLogging(robot, first.c_str());
    h.SendCommand(robot, L"01");
    h.StartLogging(robot, second.c_str());
    h.SendCommand(robot, L"02");
    h.StartLogging(robot, "Z:\\no\\such\\folder\\x.log");  // fails: lines dropped
    h.SendCommand(robot, L"03");
    EXPECT_TRUE(h.Destroy(robot));  // destruction closes the log
    EXPECT_EQ(ReadWholeFile(first), "Issuing:01\r\n");
    EXPECT_EQ(ReadWholeFile(second), "Issuing:02\r\n");
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
}

TEST(Lifecycle, DestroyStopsAPollingRobotAndReleasesAWaitingHost) {
    VornexHost& h = Host();
    void* robot = h.Create();
    h.SetTimeout(robot, 60000);
    ASSERT_TRUE(h.StartPolling(robot));
    const long id = h.SendCommand(robot, L"0102");
    std::atomic<bool> returned{false};
    std::atomic<CRobotCommand*> got{nullptr};
    std::thread waiter([&] {
        got = h.WaitReply(robot, id, 30000);
        returned = true;
    });
    Sleep(100);
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(h.Destroy(robot));
    // Destroy returns only after the waiter has left the robot object.
    EXPECT_TRUE(returned.load());
    waiter.join();
    EXPECT_EQ(got.load(), nullptr);
}

TEST(Lifecycle, ThousandCyclesLeaveTheHandleCountFlat) {
    VornexHost& h = Host();
    auto cycle = [&] {
        void* robot = h.Create();
        ASSERT_TRUE(h.StartPolling(robot));
        const long id = h.SendCommand(robot, L"0102");
        h.WaitReply(robot, id, 0);
        h.StopPolling(robot);
        ASSERT_TRUE(h.Destroy(robot));
    };
    for (int i = 0; i < 10; ++i) cycle();  // warm up lazily made objects
    const unsigned long before = CountProcessHandles();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 1000; ++i) cycle();
    const unsigned long after = CountProcessHandles();
    std::printf("handle count: %lu before, %lu after 1000 cycles\n", before, after);
    EXPECT_EQ(after, before);
}
