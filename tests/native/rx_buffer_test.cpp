// The receive steps on a buffer the size the robot object uses, fed the way
// ports deliver bytes: whole frames, split frames, garbage and bad sequences.
#include <gtest/gtest.h>

#include <string>

#include "frame_builders.h"
#include "protocol/rx_buffer.h"

using testframes::Bytes;
using testframes::Hex;

namespace {

constexpr int kRobotBufferSize = 30720;

class Receiver {
public:
    explicit Receiver(int capacity = kRobotBufferSize) : m_storage(capacity, 0), m_rx{m_storage.data(), 0, capacity} {}

    void Feed(const Bytes& bytes) {
        for (unsigned char b : bytes) m_storage.at(m_rx.count++) = b;
    }
    RxBuffer& rx() { return m_rx; }
    Bytes Held() const { return Bytes(m_storage.begin(), m_storage.begin() + m_rx.count); }
    bool TailIsZero() const {
        for (size_t i = m_rx.count; i < m_storage.size(); ++i)
            if (m_storage[i] != 0) return false;
        return true;
    }

private:
    Bytes m_storage;
    RxBuffer m_rx;
};

const Bytes kToolInfoFrame = Hex({0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09, 0x41, 0x56, 0xFA, 0xAF});

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }

} // namespace

TEST(FrameScan, AcceptsAWholeFrameAndLeavesAnEmptyZeroedBuffer) {
    Receiver r;
    r.Feed(kToolInfoFrame);
    const ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    EXPECT_EQ(out.length, 10);
    EXPECT_EQ(r.Held(), kToolInfoFrame);
    DropFront(r.rx(), out.length);
    EXPECT_EQ(r.rx().count, 0);
    EXPECT_TRUE(r.TailIsZero());
}

TEST(FrameScan, WaitsForTheRestOfASplitFrame) {
    Receiver r;
    r.Feed(Hex({0xA5, 0x5A, 0x00}));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 3);
    r.Feed(Bytes(kToolInfoFrame.begin() + 3, kToolInfoFrame.end() - 1));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);  // 9 bytes: count <= 2N+3
    r.Feed(Hex({0xAF}));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::Accepted);
}

TEST(FrameScan, WaitsUnderSixBytesAndKeepsALoneFirstByte) {
    Receiver r;
    r.Feed(Hex({0xA5}));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 1);
    r.Feed(Hex({0x5A, 0x00, 0x03, 0xBE}));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 5);
}

TEST(FrameScan, TakesTwoFramesOfOneReadOneAtATime) {
    Receiver r;
    const Bytes second = testframes::MakeFrame(Hex({0xBE, 0x71}));
    r.Feed(Concat(kToolInfoFrame, second));
    ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    DropFront(r.rx(), out.length);
    EXPECT_EQ(r.Held(), second);  // bytes remain: Receive returns true
    out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    DropFront(r.rx(), out.length);
    EXPECT_EQ(r.rx().count, 0);
}

TEST(FrameScan, DropsGarbageBeforeAFrame) {
    Receiver r;
    r.Feed(Concat(Hex({0x00, 0xA5, 0x13, 0x5A, 0xFA, 0xAF, 0xA5}), kToolInfoFrame));
    const ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    EXPECT_EQ(r.Held(), kToolInfoFrame);
    EXPECT_TRUE(r.TailIsZero());
}

TEST(FrameScan, EmptiesABufferWithoutAStartMarker) {
    Receiver r;
    r.Feed(Hex({0x01, 0x5A, 0xA5, 0x00, 0xFA, 0xA5}));  // the last A5 goes too
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 0);
    EXPECT_TRUE(r.TailIsZero());
}

TEST(FrameScan, AcceptsAFrameWhoseCrcFieldIsZero) {
    Bytes f = testframes::MakeFrame(Hex({0x01, 0x02, 0x03, 0x04}));
    testframes::SetCrcField(f, 0);
    Receiver r;
    r.Feed(f);
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::Accepted);
}

TEST(FrameScan, ReportsACrcErrorWithTheFrameLength) {
    Bytes f = kToolInfoFrame;
    f[6] ^= 0x01;
    Receiver r;
    r.Feed(Concat(f, Hex({0x77})));
    const ScanOutcome out = ScanForFrame(r.rx());
    EXPECT_EQ(out.step, ScanStep::CrcError);
    EXPECT_EQ(out.length, 10);
    DropFront(r.rx(), out.length);
    EXPECT_EQ(r.Held(), Hex({0x77}));
}

TEST(FrameScan, IgnoresTheFlagBitsOfTheLengthByte) {
    Bytes f = testframes::MakeFrame(Hex({0xBE, 0x09}), 0x0F);
    Receiver r;
    r.Feed(f);
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::Accepted);
    EXPECT_EQ(FrameWordCount(f.data()), 3);
}

TEST(FrameScan, AcceptsTheLongestFrameTheLengthFieldAllows) {
    Bytes payload(2 * 4095 - 4, 0x5C);
    const Bytes f = testframes::MakeFrame(payload);
    ASSERT_EQ(f.size(), 8194u);
    EXPECT_EQ(FrameWordCount(f.data()), 4095);
    Receiver r;
    r.Feed(f);
    const ScanOutcome out = ScanForFrame(r.rx());
    EXPECT_EQ(out.step, ScanStep::Accepted);
    EXPECT_EQ(out.length, 8194);
}

TEST(FrameScan, FlagsAnEndMarkerOffByOneAndResynchronisesOnTheNextFrame) {
    Bytes bad = kToolInfoFrame;
    bad.insert(bad.begin() + 8, 0x00);  // end marker one byte late
    Receiver r;
    r.Feed(Concat(bad, kToolInfoFrame));
    ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::BadSequence);
    EXPECT_EQ(out.length, 11);  // up to the next start marker
    const std::vector<std::string> dump = HexDumpLines(r.rx().data, out.length);
    ASSERT_EQ(dump.size(), 1u);
    EXPECT_EQ(dump[0], "a55a0003be09415600faaf");
    DestroyStartMarker(r.rx());
    EXPECT_EQ(r.rx().count, 21);

    out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    EXPECT_EQ(r.Held(), kToolInfoFrame);
}

TEST(FrameScan, BadSequenceWithoutANextMarkerDumpsAllButTheLastByte) {
    Bytes bad = kToolInfoFrame;
    bad[8] = 0x00;
    Receiver r;
    r.Feed(Concat(bad, Hex({0x11, 0x22})));
    const ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::BadSequence);
    EXPECT_EQ(out.length, 11);
    DestroyStartMarker(r.rx());
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 0);
}

TEST(FrameScan, BadSequenceLooksForTheNextMarkerFromPositionTwo) {
    // A one-word header whose end marker position holds the next frame's
    // start marker: the dump stops where that frame starts.
    Receiver r;
    r.Feed(Concat(Hex({0xA5, 0x5A, 0x00, 0x01}), kToolInfoFrame));
    const ScanOutcome out = ScanForFrame(r.rx());
    ASSERT_EQ(out.step, ScanStep::BadSequence);
    EXPECT_EQ(out.length, 4);
}

TEST(FrameScan, AZeroWordCountIsABadSequence) {
    Receiver r;
    r.Feed(Hex({0xA5, 0x5A, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::BadSequence);
}

TEST(FrameCheck, PageReadAcceptsAByteSumWhenBitSevenAsksForIt) {
    Bytes f = testframes::MakePageFrame(0x100, 0, 0x80);
    unsigned sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    testframes::SetCrcField(f, static_cast<uint16_t>(sum));
    Receiver r;
    r.Feed(f);
    EXPECT_EQ(ScanForFrame(r.rx()).step, ScanStep::Accepted);

    f[11] = 0x00;  // same sum, but no sum check asked for (sum changes with byte 11)
    sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    testframes::SetCrcField(f, static_cast<uint16_t>(sum));
    EXPECT_FALSE(FrameIsAcceptable(f.data(), static_cast<int>(f.size())));
    Receiver r2;
    r2.Feed(f);
    EXPECT_EQ(ScanForFrame(r2.rx()).step, ScanStep::CrcError);
}

TEST(FrameCheck, SumCheckOnlyForPageReads) {
    Bytes f = testframes::MakeFrame(Bytes{0xBE, 0x4C, 0, 0, 0, 0, 0, 0x80});
    unsigned sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    testframes::SetCrcField(f, static_cast<uint16_t>(sum));
    EXPECT_FALSE(FrameIsAcceptable(f.data(), static_cast<int>(f.size())));
    f[5] = 0x4D;
    sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    testframes::SetCrcField(f, static_cast<uint16_t>(sum));
    EXPECT_TRUE(FrameIsAcceptable(f.data(), static_cast<int>(f.size())));
}

TEST(FrameCheck, FramesWithoutAByteElevenGetNoSumCheck) {
    // N = 3: BE 4D fits, byte 11 lies beyond the frame.
    Bytes f = testframes::MakeFrame(Hex({0xBE, 0x4D}));
    unsigned sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    testframes::SetCrcField(f, static_cast<uint16_t>(sum));
    f.push_back(0xFF);  // what lies after it must not count as byte 11
    f.push_back(0xFF);
    EXPECT_FALSE(FrameIsAcceptable(f.data(), 10));
}

TEST(FrameCheck, RefusesNullAndTooShortFrames) {
    EXPECT_FALSE(FrameIsAcceptable(nullptr, 10));
    const Bytes f = Hex({0xA5, 0x5A, 0, 0, 0});
    EXPECT_FALSE(FrameIsAcceptable(f.data(), 5));
    EXPECT_FALSE(FrameIsAcceptable(f.data(), -1));
}

TEST(ToolInfoScan, SkipsLeadingMarkersAndAcceptsTenCharacters) {
    Receiver r;
    r.Feed(Concat(Hex({0xA5, 0xA5, 0xA5}), Ascii("9012V1.23x")));
    const ScanOutcome out = ScanForToolInfo(r.rx());
    ASSERT_EQ(out.step, ScanStep::Accepted);
    EXPECT_EQ(out.length, 10);
    EXPECT_EQ(r.Held(), Ascii("9012V1.23x"));
    DropFront(r.rx(), out.length);
    EXPECT_EQ(r.rx().count, 0);
}

TEST(ToolInfoScan, EmptiesTenBytesWithoutALetterOrDigit) {
    Receiver r;
    r.Feed(Bytes(12, 0xA5));
    EXPECT_EQ(ScanForToolInfo(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 0);
    EXPECT_TRUE(r.TailIsZero());
}

TEST(ToolInfoScan, WaitsUnderTenBytesWithoutDroppingAnything) {
    Receiver r;
    r.Feed(Concat(Hex({0xA5, 0x00}), Ascii("9012V1.")));
    EXPECT_EQ(ScanForToolInfo(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 9);
    r.Feed(Ascii("23x"));  // 12 bytes: two dropped, then the reply
    EXPECT_EQ(ScanForToolInfo(r.rx()).step, ScanStep::Accepted);
}

TEST(ToolInfoScan, KeepsTextThatIsNotTheReply) {
    Receiver r;
    r.Feed(Ascii("8012V1.23x"));
    EXPECT_EQ(ScanForToolInfo(r.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(r.rx().count, 10);
    Receiver shortAfterSkip;
    shortAfterSkip.Feed(Concat(Hex({0x20, 0x20}), Ascii("9012V1.2")));
    EXPECT_EQ(ScanForToolInfo(shortAfterSkip.rx()).step, ScanStep::WaitForMore);
    EXPECT_EQ(shortAfterSkip.Held(), Ascii("9012V1.2"));
}

TEST(BufferSteps, SurviveCountsOutsideTheBuffer) {
    unsigned char data[8] = {0xA5, 0x5A, 0x10, 2, 3, 4, 5, 6};  // N = 258: never whole
    RxBuffer rx{data, 50, 8};
    EXPECT_EQ(ScanForFrame(rx).step, ScanStep::WaitForMore);
    EXPECT_LE(rx.count, 8);
    rx.count = -3;
    EXPECT_EQ(ScanForFrame(rx).step, ScanStep::WaitForMore);
    EXPECT_EQ(rx.count, 0);
    rx.count = 100;
    DropFront(rx, 1000);
    EXPECT_EQ(rx.count, 0);
    rx.count = 4;
    DropFront(rx, -2);
    EXPECT_EQ(rx.count, 4);
    rx.count = 9;
    EXPECT_EQ(ScanForToolInfo(rx).step, ScanStep::WaitForMore);
}

TEST(BufferSteps, TreatAMissingBufferAsEmpty) {
    RxBuffer none{nullptr, 10, 10};
    EXPECT_EQ(ScanForFrame(none).step, ScanStep::WaitForMore);
    EXPECT_EQ(none.count, 0);
    none.count = 10;
    EXPECT_EQ(ScanForToolInfo(none).step, ScanStep::WaitForMore);
    DropFront(none, 3);
    DiscardAll(none);
    DestroyStartMarker(none);
    EXPECT_EQ(none.count, 0);
    unsigned char one = 0xA5;
    RxBuffer tiny{&one, 1, 1};
    DestroyStartMarker(tiny);
    EXPECT_EQ(one, 0);
    RxBuffer zero{&one, 5, 0};
    EXPECT_EQ(ScanForFrame(zero).step, ScanStep::WaitForMore);
    EXPECT_EQ(zero.count, 0);
}

TEST(BufferSteps, DropFrontAndDiscardAllZeroTheTail) {
    Receiver r(16);
    r.Feed(Hex({1, 2, 3, 4, 5, 6}));
    DropFront(r.rx(), 4);
    EXPECT_EQ(r.Held(), Hex({5, 6}));
    EXPECT_TRUE(r.TailIsZero());
    DiscardAll(r.rx());
    EXPECT_EQ(r.rx().count, 0);
    EXPECT_TRUE(r.TailIsZero());
}

TEST(HexDump, SplitsIntoLinesOf128BytesInLowercase) {
    Bytes bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(0xA0 + i);
    const std::vector<std::string> lines = HexDumpLines(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 256u);
    EXPECT_EQ(lines[1].size(), 256u);
    EXPECT_EQ(lines[2].size(), 88u);
    EXPECT_EQ(lines[0].substr(0, 8), "a0a1a2a3");
    EXPECT_EQ(lines[1].substr(0, 2), "20");  // byte 128 = 0xA0 + 128 mod 256
    EXPECT_EQ(HexDumpLines(bytes.data(), 128).size(), 1u);
    EXPECT_TRUE(HexDumpLines(bytes.data(), 0).empty());
    EXPECT_TRUE(HexDumpLines(bytes.data(), -4).empty());
    EXPECT_TRUE(HexDumpLines(nullptr, 4).empty());
}
