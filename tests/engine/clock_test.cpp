// The poll cycle's elapsed times, driven through the tick source.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/tick_source.h"
#include "test_robot.h"

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t FakeTicks() { return g_now.load(); }

class FakeClock : public ::testing::Test {
protected:
    void SetUp() override { m_previous = SetEngineTickSource(&FakeTicks); }
    void TearDown() override { SetEngineTickSource(m_previous); }
    TickSourceFn m_previous = nullptr;
};

} // namespace

TEST_F(FakeClock, FirstCycleCountsOnlyItsOwnTime) {
    TestRobot robot;
    g_now = 5000000;
    robot.Issue(CString(L"0102"), eStandard, false, false);  // no wait: work queued
    robot.Poll();
    ASSERT_EQ(robot.elapsedSeen.size(), 1u);
    EXPECT_EQ(robot.elapsedSeen[0], 0);
}

TEST_F(FakeClock, WrappingCounterGivesZeroElapsed) {
    TestRobot robot;
    robot.Issue(CString(L"0102"), eStandard, false, false);
    g_now = 0xFFFFFF00u;
    robot.Poll();
    g_now = 0x00000010u;  // wrapped
    robot.Poll();
    g_now = 0x00000070u;
    robot.Poll();
    ASSERT_EQ(robot.elapsedSeen.size(), 3u);
    EXPECT_EQ(robot.elapsedSeen[1], 0);
    EXPECT_EQ(robot.elapsedSeen[2], 0x60);
}

TEST_F(FakeClock, RestartAfterALongStopTimesOutInTheFirstCycle) {
    TestRobot robot;
    g_now = 1000;
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Poll();  // sent
    ASSERT_TRUE(robot.Awaiting());
    g_now = 1000 + 60000;  // a minute without polling
    robot.Poll();
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsAbandoned());
    EXPECT_EQ(robot.elapsedSeen.back(), 60000);
}

TEST_F(FakeClock, TimeLimitCountsSummedElapsedTimes) {
    TestRobot robot;
    robot.SetTimeout(1000);
    g_now = 100;
    const int id = robot.Issue(CString(L"0102"), eStandard, false, false);
    robot.Poll();
    for (int i = 0; i < 3; ++i) {
        g_now += 333;
        robot.Poll();
    }
    EXPECT_EQ(robot.FindReply(id), nullptr);  // 999 ms
    g_now += 1;
    robot.Poll();
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsAbandoned());
}
