// The plain-data pieces of a flash download: wanted pages and runs, request text, triple frames, progress texts.
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "frame_kit.h"
#include "protocol/page_frame.h"
#include "protocol/page_request.h"
#include "protocol/page_runs.h"
#include "protocol/progress_estimate.h"
#include "protocol/rate_codes.h"
#include "protocol/rx_buffer.h"

using kit::Bytes;

namespace {

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

typedef std::vector<std::pair<int32_t, int32_t>> RunList;

// The runs a download requests, taking each run's pages as they arrive.
RunList Runs(const std::vector<PageRow>& rows) {
    WantedPages wanted;
    EXPECT_TRUE(BuildWantedSet(rows, wanted));
    RunList runs;
    for (PageRun run = NextRun(wanted); run.length > 0; run = NextRun(wanted)) {
        runs.emplace_back(run.start, run.length);
        for (int32_t i = 0; i < run.length; ++i) wanted.erase(run.start + i);
    }
    return runs;
}

const char kUnderAMinute[] = "Estimated time remaining: less than 1 minute";

// `done` of `wanted` pages in `ms`, counted from 1000 with a tick count that wraps.
std::string TimeText(uint32_t wanted, uint32_t done, uint32_t ms, uint32_t baud, bool cancel = false) {
    const uint32_t start = 0xFFFFF000u;
    return EstimateProgress(ProgressInput{1000, 1000 + wanted, 1000 + done, start, start + ms, baud, cancel}).time;
}

} // namespace

TEST(PageRuns, RowsMergeSplitAt64AndStopAtTheLargestPage) {
    EXPECT_EQ((RunList{{10, 6}}), Runs({{10, 3}, {12, 4}}));
    EXPECT_EQ((RunList{{0, 64}, {64, 36}}), Runs({{0, 100}}));
    EXPECT_EQ((RunList{{5, 1}, {7, 1}}), Runs({{7, 1}, {5, 1}}));
    EXPECT_EQ((RunList{{-2, 4}}), Runs({{0, 2}, {-2, 2}}));
    EXPECT_EQ((RunList{}), Runs({{3, 0}, {9, -4}}));
    EXPECT_EQ((RunList{{kMaxInt - 2, 3}}), Runs({{kMaxInt - 2, 10}}));
    WantedPages wanted{42};
    EXPECT_FALSE(BuildWantedSet({{0, 10}, {0, kMaxInt}}, wanted));  // too many: refused whole
    EXPECT_EQ(WantedPages{42}, wanted);
}

TEST(PageRequest, PrintsPageCountAndRateByteWithOrWithoutAnAddress) {
    EXPECT_EQ(L"BE4D452301004001", BuildPageReadText(0x12345, 64, PageReadRateByte(38400, false), nullptr));
    EXPECT_EQ(L"BE4Dffffffff8085", BuildPageReadText(-1, CapPageCount(-1), PageReadRateByte(230400, true), nullptr));
    EXPECT_EQ(L"BE4D414200000000452301004001", BuildPageReadText(0x12345, 64, 0x01, L"AB"));
    EXPECT_EQ(153600u, RateForPageReadByte(0x84));
    EXPECT_EQ(0u, RateForPageReadByte(0x86));
}

TEST(PageFrame, ATripleFrameBecomesThreeStandardFrames) {
    // Each frame in a block of its exact size: a read past the end trips the sanitizer.
    auto expand = [](const Bytes& f, TripleRows& rows) {
        std::unique_ptr<unsigned char[]> exact(new unsigned char[f.size()]);
        std::copy(f.begin(), f.end(), exact.get());
        return ExpandTripleFrame(exact.get(), static_cast<int>(f.size()), rows);
    };
    const Bytes f = kit::MakePageFrame(0x100, 9, 0x82, 768);
    ASSERT_EQ(784u, f.size());
    TripleRows rows;
    ASSERT_TRUE(expand(f, rows));
    for (int s = 0; s < 3; ++s) {
        const Bytes row(rows[s].begin(), rows[s].end());
        EXPECT_EQ(Bytes({0xA5, 0x5A, 0x00, 0x86, 0xBE, 0x4D}), Bytes(row.begin(), row.begin() + 6));
        EXPECT_TRUE(PageNumber(row.data(), 272) == 0x100u + 2048 * s && row[10] == 9 && row[11] == 0) << s;
        for (int k = 0; k < 16; ++k)
            for (int i = 0; i < 16; ++i) ASSERT_EQ(f[12 + 48 * k + 16 * s + i], row[12 + 16 * k + i]) << s << " " << k;
        EXPECT_TRUE(kit::PolynomialRemainder(row.data(), 268) == kit::CheckField(row) && row[271] == 0xAF) << s;
    }
    for (size_t data : {256u, 762u})  // flagged, but too short: an ordinary page
        EXPECT_FALSE(expand(kit::MakePageFrame(0x100, 0, 0x82, data), rows)) << data;
    EXPECT_FALSE(IsTripleFlagged(f.data(), 270));
}

TEST(ProgressEstimate, ShowsWholeMinutesOnlyWhenTheRateIsPlausible) {
    EXPECT_EQ("Block 20 of 50", EstimateProgress(ProgressInput{1000, 1050, 1020, 0, 10000, 38400, false}).block);
    EXPECT_EQ("", TimeText(50, 20, 10000, 38400));            // 2 pages/s: under the threshold of 7.5
    EXPECT_EQ("", TimeText(500, 100, 6000, 115200));          // 16.7 pages/s against 23.5
    EXPECT_EQ(kUnderAMinute, TimeText(500, 100, 6000, 38400));  // 24 s left
    EXPECT_EQ("", TimeText(500, 100, 5000, 38400));           // nothing in the first five seconds
    EXPECT_EQ("Estimated time remaining: 3 minutes", TimeText(1080, 80, 10000, 38400));  // 125 s
    EXPECT_EQ("Estimated time remaining: 1 minute", TimeText(560, 80, 10000, 38400));
    EXPECT_EQ(kUnderAMinute, TimeText(559, 80, 10000, 38400));
    EXPECT_EQ("Estimated time remaining: 2 minutes", TimeText(561, 80, 10000, 38400));
    EXPECT_EQ("Estimated time remaining: 10 minutes", TimeText(100, 1, 6000, 2447));  // threshold 0
    EXPECT_EQ("Waiting to opportunity to cancel...", TimeText(500, 100, 6000, 38400, true));
    EXPECT_EQ("", TimeText(500, 10, 6000, 38400, true));
    EXPECT_TRUE(!ProgressRefreshDue(1200, 1000) && ProgressRefreshDue(1201, 1000) && ProgressRefreshDue(100, 0xFFFFFF00u));
}
