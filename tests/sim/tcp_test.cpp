// The in-process simulator over loopback TCP, talked to with plain Winsock
// as a host would.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/server/sim_server.h"
#include "sim_test_util.h"
#include "tcp_client.h"

using namespace simtest;
using vxsim::SimServer;

namespace {

constexpr unsigned kWaitMs = 3000;

Bytes With(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ToolInfoRequest(bool addressed) {
    return With(Preamble(), Frame(L"BE09", addressed));
}

// Sends a command whose answer is its own echo and checks that the echo is
// the next thing to arrive, which shows that nothing came before it.
void ExpectNothingBeforeEcho(TcpClient& client) {
    const Bytes echo = Frame(L"5a5a0102");
    ASSERT_TRUE(client.Send(echo));
    EXPECT_EQ(echo, client.Read(echo.size(), kWaitMs));
}

} // namespace

TEST(SimTcp, ExampleFramesGetTheirAnswers) {
    SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());

    for (bool addressed : {false, true}) {
        ASSERT_TRUE(client.Send(ToolInfoRequest(addressed)));
        const Bytes reply = client.Read(10, kWaitMs);
        ASSERT_EQ(10u, reply.size());
        EXPECT_EQ('9', reply[0]);
        EXPECT_EQ('V', reply[4]);
        EXPECT_EQ('.', reply[6]);
    }

    ASSERT_TRUE(client.Send(Frame(L"be71")));
    ExpectNothingBeforeEcho(client);

    sim.SetToolRate(115200);
    ASSERT_TRUE(client.Send(Frame(L"be2b0100")));
    ExpectNothingBeforeEcho(client);
    EXPECT_EQ(38400u, sim.ToolRate());

    EXPECT_EQ(6u, sim.CommandCount());
    const std::vector<Bytes> commands = sim.Commands();
    ASSERT_EQ(6u, commands.size());
    EXPECT_EQ((Bytes{0xbe, 0x71}), commands[2]);
    EXPECT_EQ((Bytes{0xbe, 0x2b, 0x01, 0x00}), commands[4]);
}

TEST(SimTcp, PageReadOfThreePagesWithCrcAndWithSums) {
    SimServer sim;
    TcpClient client(sim.ListenTcp());
    const struct {
        const wchar_t* text;
        bool sum;
    } requests[] = {{L"BE4D2000000003" L"01", false}, {L"BE4D2000000003" L"81", true}};
    for (const auto& request : requests) {
        const bool sum = request.sum;
        ASSERT_TRUE(client.Send(Frame(request.text)));
        std::vector<Bytes> frames;
        ASSERT_TRUE(SplitPageFrames(client.Read(3 * vxsim::kPageFrameSize, kWaitMs), frames));
        ASSERT_EQ(3u, frames.size());
        for (uint32_t i = 0; i < 3; ++i) {
            const Bytes& f = frames[i];
            EXPECT_EQ(0x20u + i, PageNumber(f.data()));
            EXPECT_EQ(i, f[10]);
            EXPECT_TRUE(PageDataGood(f.data()));
            if (sum) {
                EXPECT_EQ(0x80, f[11]);
                EXPECT_TRUE(SumGood(f.data(), f.size()));
            } else {
                EXPECT_EQ(0x00, f[11]);
                EXPECT_TRUE(CrcGood(f.data(), f.size()));
            }
        }
    }
    EXPECT_TRUE(sim.WaitForFramesAnswered(6, kWaitMs));
}

TEST(SimTcp, SplitAndPacedFramesArriveWhole) {
    SimServer sim;
    ASSERT_TRUE(sim.AddFaults("be4d:split=7/5 be4d:garbage=3"));
    sim.SetPacing(true);
    TcpClient client(sim.ListenTcp());
    ASSERT_TRUE(client.Send(Frame(L"BE4D0100000002" L"05")));  // 230400 baud: about 12 ms a frame
    const Bytes got = client.Read(2 * (3 + vxsim::kPageFrameSize), kWaitMs);
    ASSERT_EQ(2 * (3 + vxsim::kPageFrameSize), got.size());
    for (size_t at : {size_t(3), 3 + 3 + vxsim::kPageFrameSize}) {
        EXPECT_TRUE(CrcGood(got.data() + at, vxsim::kPageFrameSize));
        EXPECT_TRUE(PageDataGood(got.data() + at));
    }
}

TEST(SimTcp, DroppedPageLeavesAGapAndTheNextCommandIsStillAnswered) {
    SimServer sim;
    ASSERT_TRUE(sim.AddFaults("be4d:droppage=0#1"));
    TcpClient client(sim.ListenTcp());
    ASSERT_TRUE(client.Send(Frame(L"BE4D0000000003" L"00")));
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(client.Read(2 * vxsim::kPageFrameSize, kWaitMs), frames));
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(1, frames[0][10]);
    EXPECT_EQ(2, frames[1][10]);
    ExpectNothingBeforeEcho(client);
}

TEST(SimTcp, CloseFaultEndsTheConnectionAndTheNextOneIsServed) {
    SimServer sim;
    ASSERT_TRUE(sim.AddFaults("be09:close=0#1"));
    const int port = sim.ListenTcp();
    {
        TcpClient first(port);
        ASSERT_TRUE(first.Send(ToolInfoRequest(false)));
        EXPECT_TRUE(first.ClosedByPeer(kWaitMs));
    }
    TcpClient second(port);
    ASSERT_TRUE(second.Send(ToolInfoRequest(false)));
    EXPECT_EQ(10u, second.Read(10, kWaitMs).size());
    EXPECT_EQ(2u, sim.Connections());
}

TEST(SimTcp, CloseAfterFramesCountsFramesOnTheConnection) {
    SimServer sim;
    sim.SetCloseAfterFrames(2);
    TcpClient client(sim.ListenTcp());
    ASSERT_TRUE(client.Send(Frame(L"BE4D0000000003" L"00")));
    EXPECT_EQ(2 * vxsim::kPageFrameSize, client.Read(3 * vxsim::kPageFrameSize, kWaitMs).size());
    EXPECT_TRUE(client.ClosedByPeer(kWaitMs));
}

TEST(SimTcp, VanishedToolAcceptsNoConnectionUntilItReturns) {
    SimServer sim;
    const int port = sim.ListenTcp();
    TcpClient first(port);
    ASSERT_TRUE(sim.WaitConnected(kWaitMs));
    sim.Vanish(0);
    EXPECT_TRUE(first.ClosedByPeer(kWaitMs));
    TcpClient second(port);  // waits in the backlog
    ASSERT_TRUE(second.Send(ToolInfoRequest(false)));
    EXPECT_EQ(1u, sim.Connections());
    sim.Return();
    EXPECT_EQ(10u, second.Read(10, kWaitMs).size());
    EXPECT_EQ(2u, sim.Connections());
}

TEST(SimTcp, RecordsWhatItReceives) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + "vornex-sim-record-test.txt";
    {
        SimServer sim;
        ASSERT_TRUE(sim.SetRecordFile(path));
        TcpClient client(sim.ListenTcp());
        const Bytes f = Frame(L"BE09");
        ASSERT_TRUE(client.Send(f));
        ASSERT_TRUE(sim.WaitForCommands(1, kWaitMs));
        EXPECT_EQ(f, sim.Received());
        sim.ClearReceived();
        EXPECT_TRUE(sim.Received().empty());
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(std::string::npos, text.str().find(" a55a0003be094156faaf\n")) << text.str();
    EXPECT_NE(std::string::npos, text.str().find("# connected")) << text.str();
    in.close();
    DeleteFileA(path.c_str());
}

TEST(SimTcp, StartsOnlyOnce) {
    SimServer sim;
    ASSERT_GT(sim.ListenTcp(), 0);
    EXPECT_EQ(-1, sim.ListenTcp());
    EXPECT_FALSE(sim.ConnectTcp("127.0.0.1", 1, 10));
    std::string error;
    EXPECT_FALSE(sim.AddFaults("be4d:unknown", &error));
    EXPECT_FALSE(error.empty());
}
