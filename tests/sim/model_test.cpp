// The tool model on its own: what it takes from the host and what it answers,
// with and without faults, and the timing of its output.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/command_scanner.h"
#include "sim/tool_model.h"
#include "sim_test_util.h"

using namespace simtest;
using vxsim::ChunkList;
using vxsim::OutputChunk;
using vxsim::ToolModel;

namespace {

std::wstring PageReadText(uint32_t first, uint32_t count, uint32_t rateByte) {
    wchar_t text[64];
    swprintf(text, 64, L"BE4D%02x%02x%02x%02x%02x%02x", first & 0xFF, (first >> 8) & 0xFF, (first >> 16) & 0xFF,
             first >> 24, count, rateByte);
    return text;
}

ChunkList Send(ToolModel& tool, const Bytes& bytes, int64_t nowMs = 0) {
    ChunkList out;
    tool.Receive(bytes.data(), bytes.size(), nowMs, out);
    return out;
}

ChunkList SendText(ToolModel& tool, const std::wstring& text, bool addressed = false) {
    return Send(tool, Frame(text.c_str(), addressed));
}

size_t FramesIn(const ChunkList& chunks) {
    size_t n = 0;
    for (const OutputChunk& c : chunks) n += c.framesEnded;
    return n;
}

} // namespace

// --- the receiver -----------------------------------------------------------

TEST(CommandScanner, TakesTheExampleFramesAsTheLibraryWritesThem) {
    const Bytes frames[] = {
        {0xa5, 0x5a, 0x00, 0x03, 0xbe, 0x09, 0x41, 0x56, 0xfa, 0xaf},
        {0xa5, 0x5a, 0x01, 0x03, 0xbe, 0x09, 0x72, 0x67, 0xfa, 0xaf},
        {0xa5, 0x5a, 0x00, 0x03, 0xbe, 0x71, 0x41, 0x2e, 0xfa, 0xaf},
        {0xa5, 0x5a, 0x00, 0x04, 0xbe, 0x2b, 0x01, 0x00, 0x84, 0x7e, 0xfa, 0xaf},
    };
    vxsim::CommandScanner scanner;
    std::vector<vxsim::CommandFrame> got;
    for (const Bytes& f : frames) scanner.Feed(f.data(), f.size(), 0, got);
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ((Bytes{0xbe, 0x09}), got[0].payload);
    EXPECT_FALSE(got[0].addressed);
    EXPECT_TRUE(got[1].addressed);
    EXPECT_EQ((Bytes{0xbe, 0x71}), got[2].payload);
    EXPECT_EQ((Bytes{0xbe, 0x2b, 0x01, 0x00}), got[3].payload);
    EXPECT_EQ(0u, scanner.BadCrcFrames());
}

TEST(CommandScanner, SkipsPreambleAndGarbageAndTakesAFrameByteByByte) {
    Bytes stream = {0x00, 0xff, 0x5a, 0xa5, 0x13};
    const Bytes pre = Preamble();
    stream.insert(stream.end(), pre.begin(), pre.end());
    const Bytes f = Frame(L"BE09");
    stream.insert(stream.end(), f.begin(), f.end());
    vxsim::CommandScanner scanner;
    std::vector<vxsim::CommandFrame> got;
    for (uint8_t b : stream) scanner.Feed(&b, 1, 0, got);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ((Bytes{0xbe, 0x09}), got[0].payload);
    EXPECT_EQ(0u, scanner.Held());
}

TEST(CommandScanner, DropsABadCrcAndABadLengthButFindsTheNextGoodFrame) {
    Bytes badCrc = Frame(L"BE09");
    badCrc[6] ^= 0x01;
    // A length that points past the end marker; the good frame follows.
    Bytes badLength = {0xa5, 0x5a, 0x00, 0x05, 0xbe, 0x09, 0x41, 0x56, 0xfa, 0xaf};
    const Bytes good = Frame(L"BE71");
    Bytes stream = badCrc;
    stream.insert(stream.end(), badLength.begin(), badLength.end());
    stream.insert(stream.end(), good.begin(), good.end());
    stream.insert(stream.end(), good.begin(), good.end());
    vxsim::CommandScanner scanner;
    std::vector<vxsim::CommandFrame> got;
    scanner.Feed(stream.data(), stream.size(), 0, got);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ((Bytes{0xbe, 0x71}), got[0].payload);
    EXPECT_EQ(1u, scanner.BadCrcFrames());
}

TEST(CommandScanner, GivesUpAStalePartialFrame) {
    vxsim::CommandScanner scanner;
    std::vector<vxsim::CommandFrame> got;
    const Bytes stray = {0xa5, 0x5a, 0x0f, 0xff, 0x01};  // announces 8 kB that never come
    scanner.Feed(stray.data(), stray.size(), 1000, got);
    const Bytes good = Frame(L"BE09");
    scanner.Feed(good.data(), good.size(), 1000 + vxsim::CommandScanner::kStaleFrameMs + 1, got);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ((Bytes{0xbe, 0x09}), got[0].payload);
}

// --- answers ----------------------------------------------------------------

TEST(ToolModel, AnswersToolInfoWithTheUnframedTextWhateverTheAddressedBit) {
    ToolModel tool;
    for (bool addressed : {false, true}) {
        Bytes req = Preamble();
        const Bytes f = Frame(L"BE09", addressed);
        req.insert(req.end(), f.begin(), f.end());
        const Bytes reply = Concat(Send(tool, req));
        ASSERT_EQ(10u, reply.size());
        EXPECT_EQ('9', reply[0]);
        EXPECT_EQ('V', reply[4]);
        EXPECT_EQ('.', reply[6]);
        EXPECT_EQ(std::string(ToolModel::kDefaultToolInfo), std::string(reply.begin(), reply.end()));
    }
}

TEST(ToolModel, KeepAliveAndRateResetGetNoAnswerAndTheResetRestoresTheBaseRate) {
    ToolModel tool;
    tool.SetRate(115200);
    EXPECT_TRUE(SendText(tool, L"be71").empty());
    EXPECT_EQ(115200u, tool.Rate());
    EXPECT_TRUE(SendText(tool, L"be2b0100").empty());
    EXPECT_EQ(38400u, tool.Rate());
    EXPECT_EQ(2u, tool.Counters().commands);
}

TEST(ToolModel, AnyOtherCommandIsEchoedInAGoodFrame) {
    ToolModel tool;
    const ChunkList out = SendText(tool, L"12345678abcd");
    const Bytes reply = Concat(out);
    ASSERT_EQ(14u, reply.size());
    EXPECT_EQ((Bytes{0x12, 0x34, 0x56, 0x78, 0xab, 0xcd}), Bytes(reply.begin() + 4, reply.begin() + 10));
    EXPECT_TRUE(CrcGood(reply.data(), reply.size()));
    EXPECT_EQ(Frame(L"12345678abcd"), reply);  // same layout as a command frame
    EXPECT_EQ(1u, FramesIn(out));
}

TEST(ToolModel, AFrameWhoseLengthFieldDisagreesWithItsSizeIsNotAnswered) {
    ToolModel tool;
    // Six digits: the length field says 10 bytes, the frame has 11.
    EXPECT_TRUE(SendText(tool, L"BE0912").empty());
    EXPECT_EQ(0u, tool.Counters().commands);
}

TEST(ToolModel, PageReadSendsOneCheckedFramePerPage) {
    ToolModel tool;
    const ChunkList out = SendText(tool, PageReadText(0x12345, 3, 0x00));
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(Concat(out), frames));
    ASSERT_EQ(3u, frames.size());
    for (uint32_t i = 0; i < 3; ++i) {
        const Bytes& f = frames[i];
        EXPECT_EQ((Bytes{0xa5, 0x5a, 0x00, 0x86, 0xbe, 0x4d}), Bytes(f.begin(), f.begin() + 6));
        EXPECT_EQ(0x12345u + i, PageNumber(f.data()));
        EXPECT_EQ(i, f[10]);
        EXPECT_EQ(0, f[11]);
        EXPECT_TRUE(PageDataGood(f.data()));
        EXPECT_TRUE(CrcGood(f.data(), f.size()));
        EXPECT_EQ(0xfa, f[270]);
        EXPECT_EQ(0xaf, f[271]);
    }
    EXPECT_EQ(3u, FramesIn(out));
}

TEST(ToolModel, SumCheckRequestPutsTheByteSumInTheCheckFieldAndFlagsTheModeByte) {
    ToolModel tool;
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(Concat(SendText(tool, PageReadText(7, 3, 0x80))), frames));
    ASSERT_EQ(3u, frames.size());
    for (const Bytes& f : frames) {
        EXPECT_EQ(0x80, f[11]);
        EXPECT_TRUE(SumGood(f.data(), f.size()));
        EXPECT_FALSE(CrcGood(f.data(), f.size()));
    }
}

TEST(ToolModel, ModeByteNeverTakesRateCodeBitsOfTheRequest) {
    ToolModel tool;
    for (uint32_t rateByte : {0x02u, 0x03u, 0x83u, 0x07u}) {
        std::vector<Bytes> frames;
        ASSERT_TRUE(SplitPageFrames(Concat(SendText(tool, PageReadText(1, 1, rateByte))), frames));
        ASSERT_EQ(1u, frames.size());
        EXPECT_EQ(rateByte & 0x80, frames[0][11]) << rateByte;
    }
}

TEST(ToolModel, RateCodeStreamsThePagesAtThatRateThenFallsBack) {
    ToolModel tool;
    const ChunkList out = SendText(tool, PageReadText(0, 2, 0x04));
    ASSERT_FALSE(out.empty());
    for (const OutputChunk& c : out) EXPECT_EQ(153600u, c.rate);
    EXPECT_EQ(38400u, tool.Rate());

    const uint32_t expected[] = {0, 38400, 76800, 115200, 153600, 230400, 0, 0};
    for (uint32_t code = 0; code < 8; ++code) EXPECT_EQ(expected[code], vxsim::RateOfCode(code));
}

TEST(ToolModel, AddressedPageReadFindsThePageAfterTheAddressAndNeverSwitchesRate) {
    ToolModel tool;
    // Address "AB", then 00, page 0x0203, 2 pages, rate byte with code 4 and sum check.
    const ChunkList out = SendText(tool, L"BE4D4142000000000302000002" L"84", true);
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(Concat(out), frames));
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0x0203u, PageNumber(frames[0].data()));
    EXPECT_EQ(0x0204u, PageNumber(frames[1].data()));
    EXPECT_EQ(0x80, frames[0][11]);
    EXPECT_TRUE(SumGood(frames[1].data(), frames[1].size()));
    for (const OutputChunk& c : out) EXPECT_EQ(38400u, c.rate);
}

TEST(ToolModel, TripleFramesCarryThreePagesInterleaved) {
    ToolModel tool;
    tool.SetTripleFrames(true);
    const Bytes f = Concat(SendText(tool, PageReadText(0x100, 1, 0x00)));
    ASSERT_EQ(vxsim::kTripleFrameSize, f.size());
    EXPECT_EQ(0x10, f[2]);  // word count 390 = 0x186: its high nibble goes into byte 2
    EXPECT_EQ(0x86, f[3]);
    EXPECT_EQ(0x02, f[11]);
    EXPECT_TRUE(CrcGood(f.data(), f.size()));
    for (uint32_t s = 0; s < 3; ++s)
        for (uint32_t k = 0; k < 16; ++k)
            for (uint32_t b = 0; b < 16; ++b)
                ASSERT_EQ(vxsim::PagePatternByte(0x100 + 2048 * s, 16 * k + b), f[12 + 48 * k + 16 * s + b]);
}

TEST(ToolModel, RateChangeIsAcknowledgedAtTheNewRate) {
    ToolModel tool;
    ChunkList out = SendText(tool, L"be2c0200");
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(76800u, out[0].rate);
    EXPECT_EQ(Frame(L"be2c0200"), out[0].bytes);
    EXPECT_EQ(76800u, tool.Rate());
    out = SendText(tool, L"be2c0100");
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(38400u, out[0].rate);
    EXPECT_EQ(38400u, tool.Rate());
}
