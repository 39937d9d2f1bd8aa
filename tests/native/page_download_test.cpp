// The pieces of a flash-memory download that are plain data: rate codes, the
// request text, the wanted set and its runs, and page frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwctype>
#include <limits>
#include <memory>
#include <random>

#include "frame_builders.h"
#include "protocol/page_frame.h"
#include "protocol/page_request.h"
#include "protocol/page_runs.h"
#include "protocol/rate_codes.h"
#include "protocol/rx_buffer.h"

using testframes::Bytes;

namespace {
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
} // namespace

TEST(RateCodes, MapBothWays) {
    const uint32_t rates[] = {38400, 76800, 115200, 153600, 230400};
    for (unsigned code = 1; code <= 5; ++code) {
        EXPECT_EQ(RateForCode(code), rates[code - 1]);
        EXPECT_EQ(CodeForRate(rates[code - 1]), code);
    }
    for (unsigned code : {0u, 6u, 7u, 8u, 255u}) EXPECT_EQ(RateForCode(code), 0u) << code;
    EXPECT_EQ(CodeForRate(9600), 0u);
    EXPECT_EQ(CodeForRate(0), 0u);
    EXPECT_EQ(CodeForRate(static_cast<uint32_t>(-38400)), 0u);
    EXPECT_EQ(kBaseRate, 38400u);
}

TEST(RateCodes, PageReadByteUsesItsLowThreeBits) {
    EXPECT_EQ(RateForPageReadByte(0x84), 153600u);
    EXPECT_EQ(RateForPageReadByte(0xFD), 230400u);
    EXPECT_EQ(RateForPageReadByte(0x80), 0u);
    EXPECT_EQ(RateForPageReadByte(0x06), 0u);
    EXPECT_EQ(RateForPageReadByte(0x0F), 0u);
}

TEST(RateCodes, RateByteAddsTheSumCheckRequest) {
    EXPECT_EQ(PageReadRateByte(38400, false), 0x01);
    EXPECT_EQ(PageReadRateByte(38400, true), 0x81);
    EXPECT_EQ(PageReadRateByte(230400, true), 0x85);
    EXPECT_EQ(PageReadRateByte(12345, true), 0x80);
    EXPECT_EQ(PageReadRateByte(12345, false), 0x00);
}

TEST(PageRequest, PlainRequestPrintsPageCountAndRate) {
    EXPECT_EQ(BuildPageReadText(0x12345, 64, 0x01, nullptr), L"BE4D452301004001");
    EXPECT_EQ(BuildPageReadText(-1, 1, 0x85, nullptr), L"BE4Dffffffff0185");
    EXPECT_EQ(BuildPageReadText(0, 0, 0, nullptr), L"BE4D000000000000");
}

TEST(PageRequest, CountIsCappedAt128) {
    EXPECT_EQ(CapPageCount(200), 128u);
    EXPECT_EQ(CapPageCount(128), 128u);
    EXPECT_EQ(CapPageCount(127), 127u);
    EXPECT_EQ(CapPageCount(0), 0u);
    EXPECT_EQ(CapPageCount(-1), 128u);
    EXPECT_EQ(CapPageCount(kMinInt), 128u);
    EXPECT_EQ(BuildPageReadText(0, CapPageCount(200), 0x81, nullptr), L"BE4D000000008081");
}

TEST(PageRequest, WideValuesPrintMoreThanTwoDigits) {
    EXPECT_EQ(BuildPageReadText(0, 0x1234, 0x100, nullptr), L"BE4D000000001234100");
}

TEST(PageRequest, AddressFillsFiveCellsThenAFixedZero) {
    EXPECT_EQ(BuildPageReadText(0x12345, 64, 0x01, L"AB"), L"BE4D414200000000452301004001");
    EXPECT_EQ(BuildPageReadText(1, 2, 3, L"ABCDEFGH"), L"BE4D414243444500010000000203");
    EXPECT_EQ(BuildPageReadText(1, 2, 3, L""), L"BE4D000000000000010000000203");
    EXPECT_EQ(BuildPageReadText(1, 2, 3, L"\x0141Z"), L"BE4D" L"1415a000000" L"00" L"010000000203");
}

TEST(PageRequest, AnyFieldsGiveHexDigitsOnly) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const int32_t first = static_cast<int32_t>(random());
        const uint32_t count = CapPageCount(static_cast<int32_t>(random()));
        const unsigned rateByte = PageReadRateByte(RateForCode(random() % 8), (random() & 1) != 0);
        wchar_t address[8] = {};
        const int length = static_cast<int>(random() % 8);
        for (int c = 0; c < length; ++c) address[c] = static_cast<wchar_t>(1 + random() % 0xFF);
        const std::wstring text = BuildPageReadText(first, count, rateByte, (random() & 1) ? address : nullptr);
        ASSERT_EQ(text.compare(0, 4, L"BE4D"), 0);
        ASSERT_TRUE(text.size() == 16 || text.size() == 28) << text.size();
        for (size_t c = 4; c < text.size(); ++c) ASSERT_TRUE(std::iswxdigit(text[c]) && !std::iswupper(text[c]));
    }
}

TEST(PageRuns, OverlappingRowsMakeOneRun) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{10, 3}, {12, 4}}, wanted));
    EXPECT_EQ(wanted, (WantedPages{10, 11, 12, 13, 14, 15}));
    const PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, 10);
    EXPECT_EQ(run.length, 6);
}

TEST(PageRuns, AHundredPagesGoAs64Then36) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{0, 100}}, wanted));
    PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, 0);
    EXPECT_EQ(run.length, 64);
    for (int32_t p = run.start; p < run.start + run.length; ++p) wanted.erase(p);
    run = NextRun(wanted);
    EXPECT_EQ(run.start, 64);
    EXPECT_EQ(run.length, 36);
}

TEST(PageRuns, AGapSplitsRuns) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{7, 1}, {5, 1}}, wanted));
    PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, 5);
    EXPECT_EQ(run.length, 1);
    wanted.erase(5);
    run = NextRun(wanted);
    EXPECT_EQ(run.start, 7);
    EXPECT_EQ(run.length, 1);
}

TEST(PageRuns, RowsWithoutPagesAddNothing) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{3, 0}, {9, -4}, {kMaxInt, kMinInt}}, wanted));
    EXPECT_TRUE(wanted.empty());
    const PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, 0);
    EXPECT_EQ(run.length, 0);
}

TEST(PageRuns, PagesAreOrderedAsSignedNumbers) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{0, 2}, {-2, 2}}, wanted));
    const PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, -2);
    EXPECT_EQ(run.length, 4);
}

TEST(PageRuns, ARowEndsAtTheLargestPageNumberInsteadOfWrapping) {
    EXPECT_EQ(PagesInRow(kMaxInt - 2, 10), 3);
    EXPECT_EQ(PagesInRow(kMaxInt, kMaxInt), 1);
    EXPECT_EQ(PagesInRow(kMinInt, kMaxInt), kMaxInt);
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{kMaxInt - 2, 10}}, wanted));
    EXPECT_EQ(wanted, (WantedPages{kMaxInt - 2, kMaxInt - 1, kMaxInt}));
    const PageRun run = NextRun(wanted);
    EXPECT_EQ(run.start, kMaxInt - 2);
    EXPECT_EQ(run.length, 3);
}

TEST(PageRuns, AListAskingForTooManyPagesIsRefusedWhole) {
    WantedPages wanted{42};
    EXPECT_FALSE(BuildWantedSet({{0, 10}, {0, kMaxInt}}, wanted));
    EXPECT_EQ(wanted, WantedPages{42});
    const int32_t half = static_cast<int32_t>(pageruns::kMaxWantedPages / 2);
    EXPECT_FALSE(BuildWantedSet({{0, half}, {0, half}, {0, 1}}, wanted));  // overlaps count twice
}

TEST(PageRuns, AListAtTheLimitIsBuilt) {
    WantedPages wanted;
    ASSERT_TRUE(BuildWantedSet({{-5, static_cast<int32_t>(pageruns::kMaxWantedPages)}}, wanted));
    EXPECT_EQ(static_cast<int64_t>(wanted.size()), pageruns::kMaxWantedPages);
    EXPECT_EQ(*wanted.begin(), -5);
}

TEST(PageRuns, RunLengthLimitBelowOneCountsAsOne) {
    const WantedPages wanted{1, 2, 3};
    EXPECT_EQ(NextRun(wanted, 0).length, 1);
    EXPECT_EQ(NextRun(wanted, -7).length, 1);
    EXPECT_EQ(NextRun(wanted, 2).length, 2);
    EXPECT_EQ(NextRun(wanted, 128).length, 3);
}

namespace {

// A frame of exactly `size` bytes on the heap, so that a read past its end trips the sanitizer.
std::unique_ptr<unsigned char[]> HeapCopy(const Bytes& b) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[b.size()]);
    for (size_t i = 0; i < b.size(); ++i) copy[i] = b[i];
    return copy;
}

Bytes MakeTripleFrame(uint32_t page, unsigned char index, size_t dataBytes = 768) {
    Bytes payload = {0xBE, 0x4D};
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<unsigned char>(page >> (8 * i)));
    payload.push_back(index);
    payload.push_back(0x82);  // triple, with sum check
    for (size_t i = 0; i < dataBytes; ++i) payload.push_back(static_cast<unsigned char>(i * 7 + i / 256));
    return testframes::MakeFrame(payload);
}

} // namespace

TEST(PageFrame, ReadsItsFields) {
    const Bytes f = testframes::MakePageFrame(0x89ABCDEF, 5, 0x80);
    ASSERT_EQ(f.size(), 272u);
    EXPECT_EQ(PageNumber(f.data(), 272), 0x89ABCDEFu);
    EXPECT_EQ(PageIndex(f.data(), 272), 5);
    EXPECT_EQ(PageMode(f.data(), 272), 0x80);
    EXPECT_EQ(PageNumber(f.data(), 9), 0u);
    EXPECT_EQ(PageIndex(f.data(), 10), 0);
    EXPECT_EQ(PageMode(f.data(), 11), 0);
    EXPECT_EQ(PageNumber(nullptr, 272), 0u);
    EXPECT_FALSE(IsTripleFrame(f.data(), 272));
}

TEST(PageFrame, TripleFrameBecomesThreeStandardFrames) {
    const Bytes f = MakeTripleFrame(0x100, 9);
    ASSERT_EQ(f.size(), 784u);  // 768 data bytes, then CRC and end marker
    const int size = static_cast<int>(f.size());
    const auto frame = HeapCopy(f);
    ASSERT_TRUE(IsTripleFrame(frame.get(), size));
    TripleRows rows;
    ASSERT_TRUE(ExpandTripleFrame(frame.get(), size, rows));
    const uint32_t pages[] = {0x100, 0x900, 0x1100};
    for (int s = 0; s < 3; ++s) {
        const StandardPageFrame& row = rows[s];
        EXPECT_EQ(Bytes(row.begin(), row.begin() + 6), testframes::Hex({0xA5, 0x5A, 0x00, 0x86, 0xBE, 0x4D}));
        EXPECT_EQ(PageNumber(row.data(), 272), pages[s]);
        EXPECT_EQ(row[10], 9);
        EXPECT_EQ(row[11], 0);
        for (int k = 0; k < 16; ++k)
            for (int i = 0; i < 16; ++i)
                ASSERT_EQ(row[12 + 16 * k + i], f[12 + 48 * k + 16 * s + i]) << s << " " << k << " " << i;
        EXPECT_EQ(testframes::CrcField(row.data(), 272), testframes::PolynomialRemainder(row.data(), 268));
        EXPECT_EQ(row[270], 0xFA);
        EXPECT_EQ(row[271], 0xAF);
        EXPECT_TRUE(FrameIsAcceptable(row.data(), 272));
        EXPECT_EQ(FrameWordCount(row.data()), 134);
    }
}

TEST(PageFrame, AnyFlaggedFrameOf780BytesOrMoreExpands) {
    const Bytes exact = MakeTripleFrame(3, 0, 764);
    ASSERT_EQ(exact.size(), 780u);
    const auto copy = HeapCopy(exact);
    TripleRows three;
    EXPECT_TRUE(ExpandTripleFrame(copy.get(), 780, three));
}

TEST(PageFrame, LongerTripleFramesExpandFromTheirFirst780Bytes) {
    const Bytes f = MakeTripleFrame(7, 1, 800);
    const auto frame = HeapCopy(f);
    TripleRows rows;
    ASSERT_TRUE(ExpandTripleFrame(frame.get(), static_cast<int>(f.size()), rows));
    EXPECT_EQ(PageNumber(rows[2].data(), 272), 7u + 4096);
}

TEST(PageFrame, ShortFlaggedFrameStaysAnOrdinaryPage) {
    for (size_t data : {256u, 258u, 762u}) {  // 272, 274 and 778 bytes
        const Bytes f = MakeTripleFrame(0x100, 0, data);
        const int size = static_cast<int>(f.size());
        const auto frame = HeapCopy(f);
        EXPECT_TRUE(IsTripleFlagged(frame.get(), size)) << size;
        EXPECT_FALSE(IsTripleFrame(frame.get(), size)) << size;
        TripleRows rows;
        rows[0][0] = 0x33;
        EXPECT_FALSE(ExpandTripleFrame(frame.get(), size, rows)) << size;
        EXPECT_EQ(rows[0][0], 0);
    }
}

TEST(PageFrame, TripleFlagNeedsLengthCommandAndBitOne) {
    Bytes f = MakeTripleFrame(0x100, 0);
    EXPECT_FALSE(IsTripleFlagged(f.data(), 270));
    EXPECT_TRUE(IsTripleFlagged(f.data(), 271));
    f[11] = 0x80;
    EXPECT_FALSE(IsTripleFlagged(f.data(), 780));
    f[11] = 0x02;
    f[5] = 0x4C;
    EXPECT_FALSE(IsTripleFlagged(f.data(), 780));
    EXPECT_FALSE(IsTripleFlagged(nullptr, 780));
}

TEST(PageFrame, SubPageNumbersWrapAsUnsigned) {
    const Bytes f = MakeTripleFrame(0xFFFFFC00u, 0);
    TripleRows rows;
    ASSERT_TRUE(ExpandTripleFrame(f.data(), static_cast<int>(f.size()), rows));
    EXPECT_EQ(PageNumber(rows[1].data(), 272), 0x400u);
    EXPECT_EQ(PageNumber(rows[2].data(), 272), 0xC00u);
}
