// Timing of the tool's output (pacing, delays, the hold while a device
// changes rate) and the FTDI line model with its garbling of bytes sent at
// the wrong rate. Time is passed in, so nothing here waits.
#include <gtest/gtest.h>

#include "sim/ftdi_line.h"
#include "sim/wire_schedule.h"
#include "sim_test_util.h"

using namespace simtest;
using vxsim::ChunkList;
using vxsim::FtdiLine;
using vxsim::LineEvents;
using vxsim::OutputChunk;
using vxsim::WireSchedule;
using vxsim::WireStep;

namespace {

constexpr int64_t kMs = 1000;

OutputChunk Chunk(size_t size, uint32_t rate, uint32_t delayMs = 0) {
    OutputChunk c;
    c.bytes.assign(size, 0x11);
    c.rate = rate;
    c.delayMs = delayMs;
    c.framesEnded = 1;
    return c;
}

size_t TakeBytes(WireSchedule& s, int64_t now) {
    WireStep step;
    s.Take(now, step);
    return step.ByteCount();
}

// The page-read request with rate code 4, written one byte per call as the
// library does for a command that changes the rate.
void WriteBytewise(FtdiLine& line, const Bytes& frame, int64_t now) {
    LineEvents ev;
    for (uint8_t b : frame) ASSERT_EQ(1u, line.Write(&b, 1, now, ev));
}

Bytes ReadAll(FtdiLine& line) {
    Bytes out(line.ReceiveCount());
    line.Read(out.data(), out.size());
    return out;
}

} // namespace

TEST(WireSchedule, DelaysAddUpAndUnpacedChunksArriveWhole) {
    WireSchedule s;
    s.Push(ChunkList{Chunk(10, 38400, 5), Chunk(4, 38400, 20)}, 100 * kMs);
    EXPECT_EQ(105 * kMs, s.NextDueUs());
    EXPECT_EQ(0u, TakeBytes(s, 104 * kMs));
    EXPECT_EQ(10u, TakeBytes(s, 105 * kMs));
    EXPECT_EQ(0u, TakeBytes(s, 124 * kMs));
    EXPECT_EQ(4u, TakeBytes(s, 125 * kMs));
    EXPECT_TRUE(s.Empty());
    EXPECT_EQ(WireSchedule::kNever, s.NextDueUs());
}

TEST(WireSchedule, PacingSendsTenBitsPerByteAtTheChunkRate) {
    WireSchedule s;
    s.SetPacing(true);
    s.Push(ChunkList{Chunk(272, 38400), Chunk(272, 153600)}, 0);
    const int64_t slow = vxsim::ByteTimeUs(38400);  // 261 us
    EXPECT_EQ(100u, TakeBytes(s, 100 * slow));
    EXPECT_EQ(172u, TakeBytes(s, 272 * slow));
    const int64_t fast = vxsim::ByteTimeUs(153600);
    EXPECT_EQ(272u, TakeBytes(s, 272 * slow + 272 * fast));
    EXPECT_TRUE(s.Empty());
}

TEST(WireSchedule, ChunkAtAnotherRateWaitsForTheDeviceOrTheSettleTime) {
    WireSchedule s;
    s.SetLineRate(38400, 0);
    s.Push(ChunkList{Chunk(8, 153600)}, 10 * kMs);
    EXPECT_EQ(0u, TakeBytes(s, 150 * kMs));
    s.SetLineRate(153600, 160 * kMs);
    EXPECT_EQ(160 * kMs, s.NextDueUs());
    EXPECT_EQ(8u, TakeBytes(s, 160 * kMs));

    // Nobody switches: the tool sends after the settle time all the same,
    // and the rest of its stream follows without another pause.
    WireSchedule late;
    late.SetLineRate(38400, 0);
    late.Push(ChunkList{Chunk(8, 153600), Chunk(8, 153600)}, 300 * kMs);
    EXPECT_EQ(0u, TakeBytes(late, 499 * kMs));
    WireStep step;
    late.Take(500 * kMs, step);
    ASSERT_EQ(1u, step.pieces.size());
    EXPECT_EQ(153600u, step.pieces[0].rate);
    EXPECT_EQ(16u, step.pieces[0].bytes.size());
}

TEST(WireSchedule, StopsAtALinkActionSoThatItCanBeActedOn) {
    WireSchedule s;
    OutputChunk close;
    close.kind = OutputChunk::kClose;
    s.Push(ChunkList{Chunk(3, 38400), close, Chunk(3, 38400)}, 0);
    WireStep step;
    s.Take(10 * kMs, step);
    EXPECT_EQ(3u, step.ByteCount());
    EXPECT_TRUE(step.close);
    EXPECT_EQ(3u, TakeBytes(s, 10 * kMs));
}

TEST(WireSchedule, FrameLimitLeavesLaterFramesQueued) {
    WireSchedule s;
    s.Push(ChunkList{Chunk(5, 38400), Chunk(5, 38400), Chunk(5, 38400)}, 0);
    WireStep step;
    s.Take(10 * kMs, step, 2);
    EXPECT_EQ(2u, step.framesEnded);
    EXPECT_EQ(10u, step.ByteCount());
    EXPECT_EQ(5u, s.PendingBytes());
}

TEST(FtdiLine, PageReadAtRateCodeFourReadsCleanOnceTheDeviceIsSwitched) {
    FtdiLine line(1, 0);
    WriteBytewise(line, Frame(L"BE4D0000100003" L"04"), 1 * kMs);
    EXPECT_EQ(0u, line.TransmitCount());
    LineEvents ev;
    line.Advance(2 * kMs, ev);
    EXPECT_EQ(0u, line.ReceiveCount());  // held for the switch
    line.SetBaudRate(153600, 3 * kMs, ev);
    line.Advance(3 * kMs, ev);
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(ReadAll(line), frames));
    ASSERT_EQ(3u, frames.size());
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0x100000u + i, PageNumber(frames[i].data()));
        EXPECT_TRUE(CrcGood(frames[i].data(), frames[i].size()));
        EXPECT_TRUE(PageDataGood(frames[i].data()));
    }
    EXPECT_EQ(0u, line.Counters().garbledToHost);
    EXPECT_EQ(38400u, line.Tool().Rate());
}

TEST(FtdiLine, WithoutTheSwitchThePagesArriveAsGarbage) {
    FtdiLine line(1, 0);
    WriteBytewise(line, Frame(L"BE4D0000100003" L"04"), 1 * kMs);
    LineEvents ev;
    line.Advance(1 * kMs + WireSchedule::kDefaultSettleMs * kMs, ev);
    const Bytes got = ReadAll(line);
    EXPECT_EQ(3 * vxsim::kPageFrameSize, got.size());
    EXPECT_FALSE(HasStartMarker(got));
    EXPECT_EQ(got.size(), line.Counters().garbledToHost);
}

TEST(FtdiLine, BytesSentAtTheWrongRateNeverReachTheToolAsACommand) {
    FtdiLine line(1, 0);
    LineEvents ev;
    line.SetBaudRate(115200, 0, ev);
    const Bytes f = Frame(L"BE09");
    line.Write(f.data(), f.size(), 0, ev);
    line.Advance(1000 * kMs, ev);
    EXPECT_EQ(0u, line.ReceiveCount());
    EXPECT_EQ(0u, line.Tool().Counters().commands);
    EXPECT_EQ(f.size(), line.Counters().garbledToTool);

    // Nor does a device that is not set to 8N1.
    line.SetBaudRate(38400, 0, ev);
    line.SetFormat(7, 0, 2, 0, ev);
    line.Write(f.data(), f.size(), 0, ev);
    EXPECT_EQ(0u, line.Tool().Counters().commands);
    line.SetFormat(8, 0, 0, 0, ev);
    line.Write(f.data(), f.size(), 0, ev);
    EXPECT_EQ(1u, line.Tool().Counters().commands);
    EXPECT_EQ(10u, line.ReceiveCount());
}

TEST(FtdiLine, PacedTransmitQueueDrainsAtTheDeviceRate) {
    FtdiLine line(1, 0);
    line.SetPacing(true);
    LineEvents ev;
    const Bytes f = Frame(L"BE09");  // 10 bytes
    line.Write(f.data(), f.size(), 0, ev);
    EXPECT_EQ(10u, line.TransmitCount());
    line.Advance(5 * vxsim::ByteTimeUs(38400), ev);
    EXPECT_EQ(5u, line.TransmitCount());
    line.Advance(10 * vxsim::ByteTimeUs(38400), ev);
    EXPECT_EQ(0u, line.TransmitCount());
    // The reply leaves the tool only now, and takes its own time.
    EXPECT_EQ(0u, line.ReceiveCount());
    line.Advance(20 * vxsim::ByteTimeUs(38400), ev);
    EXPECT_EQ(10u, line.ReceiveCount());
}

TEST(FtdiLine, StuckTransmitQueueHoldsUntilPurged) {
    FtdiLine line(1, 0);
    line.SetTransmitStuck(true);
    LineEvents ev;
    const Bytes f = Frame(L"BE09");
    line.Write(f.data(), f.size(), 0, ev);
    line.Advance(10000 * kMs, ev);
    EXPECT_EQ(10u, line.TransmitCount());
    line.Purge(false, true, 10000 * kMs, ev);
    EXPECT_EQ(0u, line.TransmitCount());
    EXPECT_EQ(0u, line.Tool().Counters().commands);
    line.SetTransmitStuck(false);
    line.Write(f.data(), f.size(), 10000 * kMs, ev);
    EXPECT_EQ(10u, line.ReceiveCount());
    line.Purge(true, false, 10000 * kMs, ev);
    EXPECT_EQ(0u, line.ReceiveCount());
    EXPECT_EQ(20u, line.Counters().written);
}

TEST(FtdiLine, VanishFaultIsReportedAtItsTime) {
    FtdiLine line(1, 0);
    ASSERT_TRUE(line.Tool().Faults().AddRules("be09:delay=50 be09:vanish=400"));
    LineEvents ev;
    const Bytes f = Frame(L"BE09");
    line.Write(f.data(), f.size(), 0, ev);
    EXPECT_FALSE(ev.vanish);
    line.Advance(50 * kMs, ev);
    EXPECT_TRUE(ev.vanish);
    EXPECT_EQ(400u, ev.vanishMs);
}
