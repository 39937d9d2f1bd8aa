// The simulated tool as the library's tests use it: page frames, answers, faults, the configuration text, and the
// hand-over after a rate change on an FTDI line (the rest shows in the library's and vornexctl's tests). Time is
// passed in, so nothing here waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "sim/ftdi_line.h"
#include "sim/reply_frames.h"

using namespace vxsim;
typedef std::vector<uint8_t> Bytes;

namespace {

Bytes Frame(const wchar_t* text) { return EncodeCommand(text, std::wcslen(text), false, false); }

// What the tool answers to text, all chunks together.
Bytes Answer(ToolModel& tool, const wchar_t* text, ChunkList* chunks = nullptr) {
    ChunkList out;
    const Bytes f = Frame(text);
    tool.Receive(f.data(), f.size(), 0, out);
    Bytes all;
    for (const OutputChunk& c : out) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    if (chunks) *chunks = out;
    return all;
}

uint16_t CheckField(const uint8_t* f, size_t size) { return static_cast<uint16_t>((f[size - 4] << 8) | f[size - 3]); }

void Configure(ToolModel& tool, const char* text) {
    ToolConfig c = tool.Config();
    ASSERT_TRUE(ParseToolConfig(text, c)) << text;
    tool.Configure(c);
}

} // namespace

// Sum-checked and triple frames show in the library's download tests.
TEST(SimTool, PageFramesHaveTheLayoutHostsCheck) {
    ToolModel tool;
    const Bytes all = Answer(tool, L"BE4D4000000003" L"03");  // pages 0x40.., 3, rate code 3
    ASSERT_EQ(3 * kPageFrameSize, all.size());
    for (uint32_t i = 0; i < 3; ++i) {
        const uint8_t* f = &all[i * kPageFrameSize];
        EXPECT_EQ(Bytes({0xA5, 0x5A, 0x00, 0x86, 0xBE, 0x4D, static_cast<uint8_t>(0x40 + i), 0, 0, 0, static_cast<uint8_t>(i), 0}),
                  Bytes(f, f + 12));  // mode byte: no rate-code bits, which would mark a triple frame
        EXPECT_EQ(CCrc16::Of(f, 268), CheckField(f, kPageFrameSize));
        EXPECT_EQ(Bytes({0xFA, 0xAF}), Bytes(f + 270, f + 272));
    }
}

TEST(SimTool, AnswersEachKindOfCommand) {
    ToolModel tool;
    const Bytes echo = Answer(tool, L"BE010203");
    ASSERT_EQ(12u, echo.size());
    EXPECT_EQ(Bytes({0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x01, 0x02, 0x03}), Bytes(echo.begin(), echo.begin() + 8));
    EXPECT_EQ(CCrc16::Of(echo.data(), 8), CheckField(echo.data(), echo.size()));
    EXPECT_TRUE(Answer(tool, L"BE71").empty());
    EXPECT_EQ(12u, Answer(tool, L"BE2C0200").size());  // a rate command is acknowledged, a reset is not
    EXPECT_TRUE(Answer(tool, L"BE2B0100").empty());
}

// A lost reply that is not lost fails the library's tests that count on it; these faults could hide a library fault.
TEST(SimTool, FaultsAsTheTestsInjectThem) {
    ToolModel tool;
    Configure(tool, "fault=be01:badcrc");
    const Bytes bad = Answer(tool, L"BE010203");
    const uint16_t check = CheckField(bad.data(), bad.size());
    EXPECT_TRUE(check != 0 && check != CCrc16::Of(bad.data(), 8) && check != ByteSum16(bad.data(), 8));
    tool = ToolModel();
    Configure(tool, "fault=\"be02:garbage=6 be02:split=7/20 be02:delay=100\"");
    ChunkList chunks;
    const Bytes split = Answer(tool, L"BE020304", &chunks);
    ASSERT_GT(chunks.size(), 2u);
    EXPECT_EQ(std::make_pair(100u, 20u), std::make_pair(chunks[0].delayMs, chunks[1].delayMs));
    for (size_t i = 0; i < 6; ++i) EXPECT_TRUE(split[i] != 0xA5 && !isalnum(split[i]));
    for (size_t i = 0; i + 1 < chunks.size(); ++i) EXPECT_FALSE(chunks[i].bytes.back() == 0xA5 && chunks[i + 1].bytes[0] == 0x5A);
}

TEST(SimTool, RandomFaultsRepeatForTheSameSeed) {
    ToolModel a, b;
    Configure(a, "random=\"7 noreply=0.2 badcrc=0.2 garbage=0.2/40 split=0.2/4 delay=0.2/700-1000\"");
    Configure(b, "random 7 noreply=0.2 badcrc=0.2 garbage=0.2/40 split=0.2/4 delay=0.2/700-1000");
    for (int i = 0; i < 50; ++i) {
        ChunkList ca, cb;
        ASSERT_EQ(Answer(a, L"BE010203", &ca), Answer(b, L"BE010203", &cb));
        for (size_t k = 0; k < ca.size(); ++k) ASSERT_EQ(ca[k].delayMs, cb[k].delayMs);
    }
    EXPECT_GT(a.Faults().Fired(), 10u);
}

TEST(SimConfig, OneTextFormAndLaterSettingsLeaveTheRulesInForce) {
    ToolConfig c;
    ASSERT_TRUE(ParseToolConfig("fault=be4d:droppage=1#1 pacing=on description=\"Bench Tool\" com=none # x", c));
    EXPECT_TRUE(c.faults == std::vector<std::string>{"be4d:droppage=1#1"} && c.pacing && c.description == "Bench Tool" &&
                c.comPort == -1);
    std::string error;  // a fault a test misspells is not dropped quietly
    EXPECT_TRUE(!ParseToolConfig("fault=be4d:nonsense", c, &error) && !error.empty());
    // A rule fires twice in all, whatever is configured after it.
    ToolModel tool;
    Configure(tool, "fault=be01:noreply#2");
    EXPECT_TRUE(Answer(tool, L"BE010203").empty());
    Configure(tool, "pacing=on fault=be02:noreply");
    EXPECT_TRUE(Answer(tool, L"BE010203").empty());
    EXPECT_FALSE(Answer(tool, L"BE010203").empty());
}

TEST(SimFtdiLine, RateChangeHandOver) {
    const Bytes request = Frame(L"BE4D0000100003" L"04");  // rate code 4: 153600
    for (bool switched : {true, false}) {
        FtdiLine line(1, 0);
        LineEvents ev;
        for (uint8_t b : request) ASSERT_EQ(1u, line.Write(&b, 1, 1000, ev));  // bytewise, as the library writes it
        line.Advance(2000, ev);
        EXPECT_EQ(0u, line.ReceiveCount());  // held for the switch
        if (switched) line.SetBaudRate(153600, 3000, ev);
        line.Advance(3000 + (switched ? 0 : 200000), ev);
        Bytes got(line.ReceiveCount()), marker = {0xA5, 0x5A};
        line.Read(got.data(), got.size());
        ASSERT_EQ(3 * kPageFrameSize, got.size());
        EXPECT_EQ(switched, std::search(got.begin(), got.end(), marker.begin(), marker.end()) != got.end());
        if (switched) EXPECT_EQ(BuildPageFrame(0x100002, 2, false), Bytes(got.begin() + 2 * kPageFrameSize, got.end()));
        EXPECT_EQ(switched ? 0u : got.size(), line.Counters().garbledToHost);
    }
    // Bytes sent at the wrong rate never reach the tool as a command.
    FtdiLine line(1, 0);
    LineEvents ev;
    line.SetBaudRate(115200, 0, ev);
    const Bytes f = Frame(L"BE09");
    line.Write(f.data(), f.size(), 0, ev);
    line.Advance(1000000, ev);
    EXPECT_EQ(0u, line.Tool().Counters().commands);
    EXPECT_EQ(f.size(), line.Counters().garbledToTool);
}
