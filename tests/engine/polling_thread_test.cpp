// The worker thread base: start, stop, restart and races between them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/polling_thread.h"
#include "support/test_files.h"

namespace {

class Counter : public CPollingThread {
public:
    ~Counter() override { StopPolling(); }
    std::atomic<int> polls{0};
    DWORD pollMs = 0;

protected:
    void Poll() override {
        ++polls;
        if (pollMs) Sleep(pollMs);
    }
};

} // namespace

TEST(PollingThread, StopWithoutStartAndTwice) {
    Counter c;
    c.StopPolling();  // never started: returns at once
    ASSERT_TRUE(c.StartPolling());
    ASSERT_TRUE(WaitUntil([&] { return c.polls > 0; }, 5000));
    c.StopPolling();
    const int after = c.polls;
    c.StopPolling();
    Sleep(20);
    EXPECT_EQ(c.polls, after);  // really stopped
    EXPECT_FALSE(c.IsPolling());
}

TEST(PollingThread, SecondStartIsRefusedWhileRunningAndAllowedAfterStop) {
    Counter c;
    ASSERT_TRUE(c.StartPolling());
    EXPECT_FALSE(c.StartPolling());
    c.StopPolling();
    ASSERT_TRUE(c.StartPolling());
    const int before = c.polls;
    ASSERT_TRUE(WaitUntil([&] { return c.polls > before; }, 5000));
    c.StopPolling();
}

TEST(PollingThread, StopRightAfterStartIsNotLost) {
    for (int i = 0; i < 200; ++i) {
        Counter c;
        ASSERT_TRUE(c.StartPolling());
        c.StopPolling();
        EXPECT_FALSE(c.IsPolling());
        const int after = c.polls;
        Sleep(0);
        EXPECT_EQ(c.polls, after);
    }
}

TEST(PollingThread, StopWaitsForTheCurrentPoll) {
    Counter c;
    c.pollMs = 50;
    ASSERT_TRUE(c.StartPolling());
    ASSERT_TRUE(WaitUntil([&] { return c.polls > 0; }, 5000));
    c.StopPolling();
    const int after = c.polls;
    Sleep(120);
    EXPECT_EQ(c.polls, after);
}

TEST(PollingThread, ConcurrentStopsBothReturn) {
    Counter c;
    c.pollMs = 20;
    ASSERT_TRUE(c.StartPolling());
    std::thread other([&] { c.StopPolling(); });
    c.StopPolling();
    other.join();
    EXPECT_FALSE(c.IsPolling());
}
