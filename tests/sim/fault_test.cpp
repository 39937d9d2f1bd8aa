// Faults of the tool model: parsing of the rule text, what each fault does
// to a reply, and the seeded random mode.
#include <gtest/gtest.h>

#include "sim/fault_plan.h"
#include "sim/tool_model.h"
#include "sim_test_util.h"

using namespace simtest;
using vxsim::ChunkList;
using vxsim::FaultPlan;
using vxsim::OutputChunk;
using vxsim::ToolModel;

namespace {

const wchar_t kThreePages[] = L"BE4D0000000003" L"00";

ChunkList SendText(ToolModel& tool, const wchar_t* text) {
    const Bytes f = Frame(text);
    ChunkList out;
    tool.Receive(f.data(), f.size(), 0, out);
    return out;
}

std::vector<uint32_t> PageIndexes(const ChunkList& out) {
    std::vector<Bytes> frames;
    std::vector<uint32_t> indexes;
    if (!SplitPageFrames(Concat(out), frames)) return indexes;
    for (const Bytes& f : frames) indexes.push_back(f[10]);
    return indexes;
}

bool IsGarbageByte(uint8_t b) {
    const bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    return b != 0xA5 && !alnum;
}

} // namespace

TEST(FaultRules, RejectBadTextWithAReasonAndAddNothing) {
    FaultPlan plan;
    for (const char* bad : {"be4d:bogus", "zz:noreply", "abc:noreply", "split=0", "noreply=3", "delay=abc",
                            "delay=5/6", "badcrc#0", "droppage=-1", ":noreply"}) {
        std::string error;
        EXPECT_FALSE(plan.AddRules(std::string("delay=1;") + bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_TRUE(plan.Rules().empty());
    EXPECT_TRUE(plan.AddRules("BE09:noreply#2; *:delay=30 be4d:split=5/0"));
    ASSERT_EQ(3u, plan.Rules().size());
    EXPECT_FALSE(plan.Rules()[0].anyCommand);
    EXPECT_EQ((Bytes{0xbe, 0x09}), plan.Rules()[0].prefix);
    EXPECT_EQ(2, plan.Rules()[0].remaining);
    EXPECT_TRUE(plan.Rules()[1].anyCommand);
    EXPECT_EQ(5, plan.Rules()[2].arg1);
    EXPECT_EQ(0, plan.Rules()[2].arg2);
}

TEST(Faults, NoReplyWithACountLosesThatManyCommandsOnly) {
    ToolModel tool;
    ASSERT_TRUE(tool.Faults().AddRules("be09:noreply#1"));
    EXPECT_TRUE(SendText(tool, L"BE09").empty());
    EXPECT_EQ(10u, Concat(SendText(tool, L"BE09")).size());
    // A lost rate change leaves the rate alone.
    ASSERT_TRUE(tool.Faults().AddRules("be2c:noreply"));
    EXPECT_TRUE(SendText(tool, L"be2c0200").empty());
    EXPECT_EQ(38400u, tool.Rate());
}

TEST(Faults, DropPageAndCloseAfterFramesShortenThePageStream) {
    ToolModel tool;
    ASSERT_TRUE(tool.Faults().AddRules("be4d:droppage=1#1"));
    EXPECT_EQ((std::vector<uint32_t>{0, 2}), PageIndexes(SendText(tool, kThreePages)));
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2}), PageIndexes(SendText(tool, kThreePages)));

    ASSERT_TRUE(tool.Faults().AddRules("be4d:close=1#1"));
    const ChunkList out = SendText(tool, kThreePages);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1u, out[0].framesEnded);
    EXPECT_EQ(OutputChunk::kClose, out[1].kind);
}

TEST(Faults, BadCrcSpoilsOnlyTheNamedFrameAndNeverLooksValid) {
    ToolModel tool;
    ASSERT_TRUE(tool.Faults().AddRules("be4d:badcrc=2"));
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(Concat(SendText(tool, L"BE4D0000000003" L"80")), frames));
    ASSERT_EQ(3u, frames.size());
    EXPECT_TRUE(SumGood(frames[0].data(), frames[0].size()));
    EXPECT_TRUE(SumGood(frames[1].data(), frames[1].size()));
    const Bytes& bad = frames[2];
    EXPECT_FALSE(SumGood(bad.data(), bad.size()));
    EXPECT_FALSE(CrcGood(bad.data(), bad.size()));
    EXPECT_NE(0, CheckField(bad.data(), bad.size()));

    ToolModel info;
    ASSERT_TRUE(info.Faults().AddRules("badcrc"));
    const Bytes text = Concat(SendText(info, L"BE09"));
    ASSERT_EQ(10u, text.size());
    EXPECT_NE('V', text[4]);
}

TEST(Faults, GarbageComesBeforeEachFrameAndCannotPassForData) {
    ToolModel tool;
    ASSERT_TRUE(tool.Faults().AddRules("garbage=12"));
    const Bytes info = Concat(SendText(tool, L"BE09"));
    ASSERT_EQ(22u, info.size());
    for (size_t i = 0; i < 12; ++i) EXPECT_TRUE(IsGarbageByte(info[i])) << i;
    EXPECT_EQ(std::string(ToolModel::kDefaultToolInfo), std::string(info.begin() + 12, info.end()));

    const ChunkList pages = SendText(tool, kThreePages);
    ASSERT_EQ(3u, pages.size());
    for (const OutputChunk& c : pages) {
        ASSERT_EQ(12u + vxsim::kPageFrameSize, c.bytes.size());
        EXPECT_TRUE(CrcGood(c.bytes.data() + 12, vxsim::kPageFrameSize));
    }
}

TEST(Faults, SplitCutsFramesIntoPausedPiecesButNeverBetweenTheStartBytes) {
    for (uint32_t garbage : {0u, 4u}) {
        ToolModel tool;
        ASSERT_TRUE(tool.Faults().AddRules("split=5/20 garbage=" + std::to_string(garbage) + " delay=300"));
        const Bytes expect = Frame(L"12345678");
        const ChunkList out = SendText(tool, L"12345678");
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(300u, out[0].delayMs);
        size_t at = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            if (i > 0) {
                EXPECT_EQ(20u, out[i].delayMs);
            }
            EXPECT_LE(out[i].bytes.size(), 6u);
            at += out[i].bytes.size();
            // A piece never ends on the frame's first byte.
            EXPECT_NE(garbage + 1, at) << "garbage " << garbage;
        }
        const Bytes all = Concat(out);
        ASSERT_EQ(garbage + expect.size(), all.size());
        EXPECT_EQ(expect, Bytes(all.begin() + garbage, all.end()));
        EXPECT_EQ(1u, out.back().framesEnded);
    }
}

TEST(Faults, VanishTakesTheCommandAndAsksForTheDeviceToGo) {
    ToolModel tool;
    ASSERT_TRUE(tool.Faults().AddRules("be09:vanish=500#1"));
    const ChunkList out = SendText(tool, L"BE09");
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(OutputChunk::kVanish, out[0].kind);
    EXPECT_EQ(500u, out[0].vanishMs);
    EXPECT_EQ(10u, Concat(SendText(tool, L"BE09")).size());
}

TEST(Faults, WriteFaultMatchesTheFrameInTheWriteAndFiresTheGivenNumberOfTimes) {
    FaultPlan plan;
    ASSERT_TRUE(plan.AddRules("be09:ioerror#1"));
    Bytes info = Preamble();
    const Bytes f = Frame(L"BE09");
    info.insert(info.end(), f.begin(), f.end());
    const Bytes other = Frame(L"BE71");
    EXPECT_FALSE(plan.TakeWriteFault(other.data(), other.size()));
    EXPECT_FALSE(plan.ForCommand(Bytes{0xbe, 0x09}, 1).noReply);  // not a reply fault
    EXPECT_TRUE(plan.TakeWriteFault(info.data(), info.size()));
    EXPECT_FALSE(plan.TakeWriteFault(info.data(), info.size()));
}

TEST(Faults, RandomModeRepeatsForTheSameSeed) {
    auto run = [](uint64_t seed) {
        ToolModel tool;
        EXPECT_TRUE(tool.Faults().SetRandom(seed, "noreply=0.3 droppage=0.3 garbage=0.3/8 delay=0.5/400"));
        Bytes all;
        for (int i = 0; i < 40; ++i) {
            const ChunkList out = SendText(tool, kThreePages);
            for (const OutputChunk& c : out) {
                all.push_back(static_cast<uint8_t>(c.delayMs & 0xFF));
                all.insert(all.end(), c.bytes.begin(), c.bytes.end());
            }
            all.push_back(0xEE);
        }
        return all;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));

    ToolModel always;
    ASSERT_TRUE(always.Faults().SetRandom(1, "noreply=1"));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(SendText(always, L"BE09").empty());
    std::string error;
    EXPECT_FALSE(always.Faults().SetRandom(1, "noreply=1.5", &error));
    EXPECT_FALSE(always.Faults().SetRandom(1, "vanish=0.1/0", &error));
    EXPECT_FALSE(always.Faults().SetRandom(1, "nothing=0.1", &error));
}
