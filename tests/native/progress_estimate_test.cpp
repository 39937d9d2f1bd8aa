// The texts of the download progress window for known rates and times.
#include <gtest/gtest.h>

#include <random>

#include "protocol/progress_estimate.h"

namespace {

const char kLessThanAMinute[] = "Estimated time remaining: less than 1 minute";
const char kCancelNotice[] = "Waiting to opportunity to cancel...";

// A download of `wanted` pages that received `done` of them in `ms`, counted
// from a first count of 1000 so that only differences matter.
ProgressInput Input(uint32_t wanted, uint32_t done, uint32_t ms, uint32_t baud, bool cancel = false) {
    const uint32_t first = 1000;
    const uint32_t start = 0xFFFFF000u;  // tick counts wrap during the download
    return ProgressInput{first, first + wanted, first + done, start, start + ms, baud, cancel};
}

} // namespace

TEST(ProgressEstimate, SlowerThanTheLinkAllowsShowsNoEstimate) {
    // 2 pages/s against a threshold of 7.5.
    const ProgressTexts t = EstimateProgress(Input(50, 20, 10000, 38400));
    EXPECT_EQ(t.block, "Block 20 of 50");
    EXPECT_EQ(t.time, "");
}

TEST(ProgressEstimate, ThresholdFollowsTheLinkRate) {
    // 100 of 500 in 6 s: 16.7 pages/s.
    EXPECT_EQ(EstimateProgress(Input(500, 100, 6000, 230400)).time, "");  // threshold 47
    EXPECT_EQ(EstimateProgress(Input(500, 100, 6000, 115200)).time, "");  // threshold 23.5
    EXPECT_EQ(EstimateProgress(Input(500, 100, 6000, 38400)).time, kLessThanAMinute);  // 24 s left
    EXPECT_EQ(EstimateProgress(Input(500, 100, 6000, 38400)).block, "Block 100 of 500");
}

TEST(ProgressEstimate, MinutesAreRoundedUp) {
    // 80 pages in 10 s is 8 pages/s; 1000 left take 125 s.
    EXPECT_EQ(EstimateProgress(Input(1080, 80, 10000, 38400)).time, "Estimated time remaining: 3 minutes");
}

TEST(ProgressEstimate, SixtySecondsIsOneMinuteSingular) {
    EXPECT_EQ(EstimateProgress(Input(560, 80, 10000, 38400)).time, "Estimated time remaining: 1 minute");
    EXPECT_EQ(EstimateProgress(Input(559, 80, 10000, 38400)).time, kLessThanAMinute);
    EXPECT_EQ(EstimateProgress(Input(561, 80, 10000, 38400)).time, "Estimated time remaining: 2 minutes");
}

TEST(ProgressEstimate, NothingInTheFirstFiveSeconds) {
    EXPECT_EQ(EstimateProgress(Input(500, 100, 5000, 38400)).time, "");
    EXPECT_EQ(EstimateProgress(Input(500, 100, 5001, 38400)).time, kLessThanAMinute);
}

TEST(ProgressEstimate, CancelNoticeOnlyWhereAnEstimateWouldShow) {
    EXPECT_EQ(EstimateProgress(Input(500, 100, 4000, 38400, true)).time, "");
    EXPECT_EQ(EstimateProgress(Input(500, 100, 6000, 38400, true)).time, kCancelNotice);
    EXPECT_EQ(EstimateProgress(Input(500, 10, 6000, 38400, true)).time, "");  // too slow
}

TEST(ProgressEstimate, NoTimeAtAllCountsAsOneMillisecond) {
    const ProgressTexts t = EstimateProgress(Input(500, 3, 0, 38400));
    EXPECT_EQ(t.time, "");  // 3000 pages/s, but not past five seconds
}

TEST(ProgressEstimate, SlowLinksHaveAZeroThreshold) {
    // 2447 / 2448 = 0: any progress is plausible.
    EXPECT_EQ(EstimateProgress(Input(100, 1, 6000, 2447)).time, "Estimated time remaining: 10 minutes");
    EXPECT_EQ(EstimateProgress(Input(100, 0, 6000, 2447)).time, "");
}

TEST(ProgressEstimate, CountsBeyondTheRangeStaySafe) {
    // More pages than wanted (a page sent twice): negative time left.
    ProgressTexts t = EstimateProgress(Input(10, 40, 6000, 0));
    EXPECT_EQ(t.block, "Block 40 of 10");
    EXPECT_EQ(t.time, kLessThanAMinute);
    // A count below the first one: negative rate, no estimate.
    t = EstimateProgress(ProgressInput{1000, 2000, 990, 0, 9000, 38400, false});
    EXPECT_EQ(t.block, "Block 4294967286 of 1000");
    EXPECT_EQ(t.time, "");
}

TEST(ProgressEstimate, AnEndlessCrawlSaysTheMostMinutesItCan) {
    // One page in almost 50 days with two billion to go.
    const ProgressTexts t = EstimateProgress(ProgressInput{0, 0x7FFFFFFFu, 1, 0, 0xFFFFFFFFu, 0, false});
    EXPECT_EQ(t.time, "Estimated time remaining: 4294967295 minutes");
}

TEST(ProgressEstimate, RefreshIsDueStrictlyAfter200ms) {
    EXPECT_FALSE(ProgressRefreshDue(1200, 1000));
    EXPECT_TRUE(ProgressRefreshDue(1201, 1000));
    EXPECT_TRUE(ProgressRefreshDue(100, 0xFFFFFF00u));  // across the tick-count wrap
    EXPECT_FALSE(ProgressRefreshDue(100, 0xFFFFFFF0u));
}

TEST(ProgressEstimate, AnyInputGivesOneOfItsTexts) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 100000; ++i) {
        const ProgressInput in{static_cast<uint32_t>(random()), static_cast<uint32_t>(random()),
                               static_cast<uint32_t>(random()), static_cast<uint32_t>(random()),
                               static_cast<uint32_t>(random()), static_cast<uint32_t>(random()), (random() & 1) != 0};
        const ProgressTexts t = EstimateProgress(in);
        ASSERT_EQ(t.block.rfind("Block ", 0), 0u);
        const bool known = t.time.empty() || t.time == kLessThanAMinute || t.time == kCancelNotice ||
                           t.time.rfind("Estimated time remaining: ", 0) == 0;
        ASSERT_TRUE(known) << t.time;
    }
}
