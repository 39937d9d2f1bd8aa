// Issue, hand-over, completion, abandonment and the host-side waits.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/test_files.h"
#include "test_robot.h"

TEST(Queue, CommandsGoOutOneAtATimeInIssueOrder) {
    TestRobot robot;
    const int a = robot.Issue(CString(L"0101"), eStandard, false, false);
    const int b = robot.Issue(CString(L"0202"), eStandard, false, false);
    const int c = robot.Issue(CString(L"0303"), eStandard, false, false);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_TRUE(robot.WorkEventSet());

    robot.Transmit(0);  // a is sent
    EXPECT_TRUE(robot.Awaiting());
    EXPECT_EQ(robot.PendingCount(), 2u);
    EXPECT_EQ(robot.FindReply(a), nullptr);  // in flight: not found
    robot.Transmit(10);  // still awaiting a: nothing else goes out
    EXPECT_EQ(robot.PendingCount(), 2u);

    robot.Reply(L"0101");
    CRobotCommand* done = robot.FindReply(a);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsReplyComplete());
    EXPECT_EQ(done->GetReplySize(), 10);
    EXPECT_FALSE(robot.Awaiting());

    robot.Transmit(0);  // b goes out in the cycle that follows the reply
    EXPECT_EQ(robot.PendingCount(), 1u);
    robot.Reply(L"0202");
    robot.Transmit(0);
    EXPECT_EQ(robot.PendingCount(), 0u);
    EXPECT_FALSE(robot.WorkEventSet());  // the last one taken: nothing left to send
    robot.Reply(L"0303");
    EXPECT_TRUE(robot.FindReply(c)->IsReplyComplete());
    robot.Transmit(0);
    EXPECT_FALSE(robot.IsBusy());
}

TEST(Queue, UnansweredCommandIsAbandonedOnTheCycleThatReachesTheLimit) {
    TestRobot robot;  // default time limit 2000 ms
    const int id = robot.Issue(CString(L"0a0b"), eStandard, false, false);
    robot.Transmit(0);
    for (int cycle = 1; cycle < 20; ++cycle) {
        robot.Transmit(100);
        ASSERT_EQ(robot.FindReply(id), nullptr) << "abandoned early, cycle " << cycle;
    }
    robot.Transmit(100);  // the twentieth cycle after the write
    CRobotCommand* record = robot.FindReply(id);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_FALSE(record->IsReplyComplete());
    EXPECT_FALSE(robot.Awaiting());
    EXPECT_EQ(robot.Current(), eNone);
}

TEST(Queue, KindOneIsAbandonedOneCycleAfterSending) {
    TestRobot robot;
    const int id = robot.Issue(CString(L"be71"), eNoReply, false, false);
    robot.Transmit(0);
    EXPECT_TRUE(robot.Awaiting());
    robot.Reply(L"be71");  // replies to a kind-1 command are dropped
    EXPECT_EQ(robot.FindReply(id), nullptr);
    robot.Transmit(0);
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsAbandoned());
}

TEST(Queue, PageReadCollectsPagesThenCompletes) {
    TestRobot robot;
    robot.SetTimeout(500);
    robot.ExpectPages(3);
    const int id = robot.Issue(CString(L"be4d0000000003"), ePageRead, false, false);
    robot.Transmit(0);
    robot.Transmit(400);
    robot.Reply(L"be4d000000000000");  // byte 10 = 0
    CRobotCommand* record = robot.FindReply(id);
    ASSERT_NE(record, nullptr);  // found after the first page, neither flag set
    EXPECT_EQ(record->GetReplyCount(), 1);
    EXPECT_FALSE(record->IsReplyComplete());
    EXPECT_FALSE(record->IsAbandoned());
    EXPECT_EQ(robot.Remaining(), 500);  // each page restarts the time limit
    robot.Transmit(400);
    robot.Reply(L"be4d000000000100");
    robot.Transmit(400);
    robot.Reply(L"be4d000000000200");
    EXPECT_TRUE(record->IsReplyComplete());
    EXPECT_EQ(record->GetReplyCount(), 3);
    EXPECT_EQ(robot.GetPagesReceived(), 3);
    EXPECT_FALSE(robot.ExpectsPages());
}

TEST(Queue, PageReadTimingOutKeepsItsPages) {
    TestRobot robot;
    robot.SetTimeout(300);
    robot.ExpectPages(3);
    const int id = robot.Issue(CString(L"be4d0000000003"), ePageRead, false, false);
    robot.Transmit(0);
    robot.Reply(L"be4d000000000000");
    robot.Reply(L"be4d000000000100");
    robot.Transmit(300);
    CRobotCommand* record = robot.FindReply(id);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_EQ(record->GetReplyCount(), 2);
    EXPECT_FALSE(robot.ExpectsPages());
    robot.Reply(L"be4d000000000200");  // too late: dropped
    EXPECT_EQ(record->GetReplyCount(), 2);
}

TEST(Queue, WaitReplyTimesOutThenASecondWaitGetsTheRecord) {
    TestRobot robot;
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Transmit(0);
    EXPECT_EQ(robot.WaitReply(id, 30), nullptr);
    EXPECT_EQ(robot.WaiterCount(), 1u);  // the event stays for a later wait

    std::atomic<CRobotCommand*> got{nullptr};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        got = robot.WaitReply(id, 10000);
        returned = true;
    });
    Sleep(50);
    EXPECT_FALSE(returned.load());
    robot.Reply(L"0102");
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 5000));
    waiter.join();
    ASSERT_NE(got.load(), nullptr);
    EXPECT_TRUE(got.load()->IsReplyComplete());
    EXPECT_EQ(robot.WaiterCount(), 0u);
    // Already finished: returned at once.
    EXPECT_EQ(robot.WaitReply(id, 0), got.load());
}

TEST(Queue, AbandonmentDoesNotEndAWait) {
    TestRobot robot;
    robot.SetTimeout(100);
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Transmit(0);
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        robot.WaitReply(id, 300);
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return robot.WaiterCount() == 1; }, 5000));
    robot.Transmit(100);  // abandoned
    Sleep(100);
    EXPECT_FALSE(returned.load());
    waiter.join();
    ASSERT_NE(robot.WaitReply(id, 0), nullptr);
    EXPECT_TRUE(robot.WaitReply(id, 0)->IsAbandoned());
}

TEST(Queue, DeleteReplyOnceThenFalse) {
    TestRobot robot;
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Transmit(0);
    robot.Reply(L"0102");
    EXPECT_TRUE(robot.DeleteReply(id));
    EXPECT_FALSE(robot.DeleteReply(id));
    EXPECT_EQ(robot.FindReply(id), nullptr);
    EXPECT_FALSE(robot.DeleteReply(0));
}

TEST(Queue, CancelPendingDropsQueuedAndAbandonsTheAwaited) {
    TestRobot robot;
    const int awaited = robot.Issue(CString(L"0101"), eStandard, false, false);
    robot.Transmit(0);
    const int queued1 = robot.Issue(CString(L"0202"), eStandard, false, false);
    const int queued2 = robot.Issue(CString(L"0303"), eStandard, false, false);
    robot.CancelPending();
    EXPECT_EQ(robot.PendingCount(), 0u);
    EXPECT_FALSE(robot.WorkEventSet());
    robot.Transmit(0);
    ASSERT_NE(robot.FindReply(awaited), nullptr);
    EXPECT_TRUE(robot.FindReply(awaited)->IsAbandoned());
    for (int i = 0; i < 3; ++i) robot.Transmit(5000);
    EXPECT_EQ(robot.FindReply(queued1), nullptr);  // vanished without trace
    EXPECT_EQ(robot.FindReply(queued2), nullptr);
    EXPECT_FALSE(robot.IsBusy());
}

TEST(Queue, DetachDiscardsEverythingAndReleasesABlockedWait) {
    TestRobot robot;
    const int done = robot.Issue(CString(L"0101"), eStandard, false, false);
    robot.Transmit(0);
    robot.Reply(L"0101");
    const int awaited = robot.Issue(CString(L"0202"), eStandard, false, false);
    robot.Transmit(0);
    robot.Issue(CString(L"0303"), eStandard, false, false);

    std::atomic<bool> returned{false};
    std::atomic<CRobotCommand*> got{reinterpret_cast<CRobotCommand*>(1)};
    std::thread waiter([&] {
        got = robot.WaitReply(awaited, 20000);
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return robot.WaiterCount() == 1; }, 5000));
    EXPECT_TRUE(robot.Detach());
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 5000)) << "WaitReply stayed blocked";
    waiter.join();
    EXPECT_EQ(got.load(), nullptr);
    EXPECT_EQ(robot.FindReply(done), nullptr);
    EXPECT_EQ(robot.PendingCount(), 0u);
    EXPECT_EQ(robot.InFlightCount(), 0u);
    EXPECT_FALSE(robot.Awaiting());
    EXPECT_FALSE(robot.IsBusy());
}

TEST(Queue, KeepAliveAfterTwentyFiveIdleSeconds) {
    TestRobot robot;
    robot.SetKeepAlive(true);
    for (int i = 0; i < 249; ++i) robot.Transmit(100);
    EXPECT_EQ(robot.InFlightCount(), 0u);
    robot.Transmit(100);  // 25 000 ms idle
    EXPECT_EQ(robot.InFlightCount(), 1u);
    robot.Transmit(100);  // "be71" is sent
    EXPECT_TRUE(robot.Awaiting());
    robot.Transmit(100);  // kind 1: abandoned a cycle later, countdown restarts
    EXPECT_FALSE(robot.Awaiting());
    EXPECT_EQ(robot.FinishedCount(), 1u);
    // Restarted at 25000 by the abandonment, then counted down by this cycle.
    EXPECT_EQ(robot.GetKeepAliveCountdown(), 24900);

    // A completion restarts the countdown as well.
    for (int i = 0; i < 200; ++i) robot.Transmit(100);
    robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Transmit(100);
    robot.Reply(L"0102");
    EXPECT_EQ(robot.GetKeepAliveCountdown(), 25000);
}

TEST(Queue, PageReadRequestsAreRefusedWhileOneExpectsPages) {
    TestRobot robot;
    const int first = robot.ReadFlashPages(0x12345, 64, 115200, true, nullptr);
    ASSERT_NE(first, 0);
    EXPECT_EQ(robot.ReadFlashPages(0, 1, 38400, true, nullptr), 0);
    robot.Transmit(0);
    robot.Transmit(5000);  // abandoned: the expected pages are forgotten
    EXPECT_FALSE(robot.ExpectsPages());
    const int second = robot.ReadFlashPages(0, 200, 38400, false, nullptr);
    EXPECT_NE(second, 0);
    robot.Transmit(0);
    robot.Transmit(5000);
    // No FTDI port: rate code 1 whatever the host asked; 200 pages capped
    // at 128 (0x80); flag 0 asks for the sum check.
    CRobotCommand* a = robot.FindReply(first);
    CRobotCommand* b = robot.FindReply(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::wstring(a->GetString()), L"BE4D452301004001");
    EXPECT_EQ(std::wstring(b->GetString()), L"BE4D0000000080" L"81");
    EXPECT_EQ(a->GetCommand(), ePageRead);
    EXPECT_FALSE(a->IsAddressed());
}

TEST(Queue, AddressedPageReadPlacesTheAddressCells) {
    TestRobot robot;
    const int id = robot.ReadFlashPages(7, 2, 38400, true, L"AB");
    robot.Transmit(0);
    robot.Transmit(5000);
    CRobotCommand* record = robot.FindReply(id);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAddressed());
    EXPECT_EQ(std::wstring(record->GetString()), L"BE4D" L"4142000000" L"00" L"07000000" L"02" L"01");
}
