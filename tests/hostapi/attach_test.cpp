// Attaching ports as a host does: each kind of port carries commands to the
// simulated tool, a second attach drops the unread replies but not the first
// port, a failed attach changes nothing, and the TCP connect wait ends on
// connection, on time, or on the quit message.
#include <gtest/gtest.h>

#include <functional>

#include "host_session.h"
#include "sim/server/sim_server.h"

namespace {

constexpr int kComPort = 8;
constexpr int kComLinePort = 47008;

// Whole 16-bit words: the frame's length field counts words.
const std::vector<uint8_t> kPayload = {0xBE, 0x01, 0x02, 0x03};
const wchar_t* const kText = L"BE010203";

// The simulator takes the far end of COM8 before the library opens it: the
// line drops whatever is sent while nobody holds that end.
bool ConnectComLine(vxsim::SimServer& sim) { return sim.ConnectTcp("127.0.0.1", kComLinePort, 5000); }

// The far end may be taken up a moment after the connection is made, so the
// first command on a fresh line is retried until one round trip works.
bool ComLineUp(ROBOT_HANDLE robot) {
    Host().SetTimeout(robot, 500);
    bool up = false;
    for (int attempt = 0; attempt < 10 && !up; ++attempt) up = RoundTrip(robot, kText, 2000) == EchoFrame(kPayload);
    Host().SetTimeout(robot, 2000);
    return up;
}

// A command whose reply is in and left unread.
long UnreadReply(ROBOT_HANDLE robot) {
    const long id = Api().SendCommand(robot, kText);
    CRobotCommand* record = WaitFinished(robot, id, 5000);
    return record && record->IsReplyComplete() ? id : 0;
}

} // namespace

TEST(Attach, SerialPortCarriesCommandsToTheTool) {
    vxsim::SimServer sim;
    ASSERT_TRUE(ConnectComLine(sim)) << "no pty link on port " << kComLinePort;
    RobotSession session;
    PORT_HANDLE port = session.Keep(Api().AttachSerialPort(session.robot(), kComPort), PortKind::kSerial);
    ASSERT_NE(port, nullptr);
    session.StartPolling();
    ASSERT_TRUE(ComLineUp(session.robot()));
    EXPECT_EQ(RoundTrip(session.robot(), L"BE0a"), EchoFrame({0xBE, 0x0A}));
}

TEST(Attach, TcpPortCarriesCommandsToTheTool) {
    vxsim::SimServer sim;
    const int tcpPort = sim.ListenTcp();
    ASSERT_GT(tcpPort, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, tcpPort), nullptr);
    // The simulator notes the connection on its own thread, a moment later.
    EXPECT_TRUE(PumpUntil([&] { return sim.IsConnected(); }, 5000));
    session.StartPolling();
    EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
    EXPECT_EQ(sim.CommandCount(), 1u);
}

TEST(Attach, FtdiDeviceByDescriptionLocationAndIndex) {
    ASSERT_TRUE(FtdiSimReady());
    const FtdiSim::Device& device = FtdiSim::Devices()[0];
    struct Case {
        const char* how;
        std::function<PORT_HANDLE(ROBOT_HANDLE)> attach;
        long location;
    };
    const Case cases[] = {
        {"description", [&](ROBOT_HANDLE r) { return Api().AttachFTDIDevice(r, device.description); },
         static_cast<long>(device.location)},
        {"location", [&](ROBOT_HANDLE r) { return Api().AttachFTDIDeviceByLoc(r, device.location); },
         static_cast<long>(device.location)},
        {"index", [&](ROBOT_HANDLE r) { return Api().AttachFTDIDeviceByIndex(r, 0); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        {
            RobotSession session;
            PORT_HANDLE port = session.Keep(c.attach(session.robot()), PortKind::kFtdi);
            ASSERT_NE(port, nullptr);
            EXPECT_TRUE(DeviceOpen(0));
            EXPECT_EQ(Api().GetLocID(port), c.location);
            EXPECT_EQ(FtdiSim::Get().Query("devicerate"), 38400);
            EXPECT_EQ(FtdiSim::Get().Query("format8n1"), 1);
            session.StartPolling();
            EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
        }
        EXPECT_FALSE(DeviceOpen(0));  // released with the session
    }
}

TEST(Attach, SecondAttachDropsUnreadRepliesAndLeavesTheFirstPortOpen) {
    vxsim::SimServer first, second;
    const int firstPort = first.ListenTcp();
    const int secondPort = second.ListenTcp();
    ASSERT_GT(firstPort, 0);
    ASSERT_GT(secondPort, 0);
    RobotSession session;
    PORT_HANDLE firstHandle = AttachTcp(session, firstPort);
    ASSERT_NE(firstHandle, nullptr);
    session.StartPolling();
    const long unread = UnreadReply(session.robot());
    ASSERT_NE(unread, 0);

    ASSERT_NE(AttachTcp(session, secondPort), nullptr);
    EXPECT_EQ(Api().GetReply(session.robot(), unread), nullptr);
    HostArray reply;
    EXPECT_EQ(Api().GetReplyBytes(session.robot(), unread, reply.out()), 0);
    EXPECT_EQ(reply.get(), nullptr);
    EXPECT_FALSE(Api().DeleteReply(session.robot(), unread));

    // Commands now go to the second tool only.
    EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
    EXPECT_EQ(first.CommandCount(), 1u);
    EXPECT_EQ(second.CommandCount(), 1u);

    // The first connection lasts until the host releases its port.
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(first.IsConnected());
    EXPECT_TRUE(session.Release(firstHandle));
    EXPECT_TRUE(PumpUntil([&] { return !first.IsConnected(); }, 5000));
    EXPECT_TRUE(second.IsConnected());
}

TEST(Attach, SecondFtdiAttachLeavesTheFirstDeviceOpenUntilReleased) {
    ASSERT_TRUE(FtdiSimReady());
    RobotSession session;
    PORT_HANDLE firstHandle = session.Keep(Api().AttachFTDIDeviceByIndex(session.robot(), 1), PortKind::kFtdi);
    ASSERT_NE(firstHandle, nullptr);
    session.StartPolling();
    const long unread = UnreadReply(session.robot());
    ASSERT_NE(unread, 0);

    ASSERT_NE(session.Keep(Api().AttachFTDIDeviceByLoc(session.robot(), FtdiSim::Devices()[3].location), PortKind::kFtdi),
              nullptr);
    EXPECT_EQ(Api().GetReply(session.robot(), unread), nullptr);
    EXPECT_TRUE(DeviceOpen(1));
    EXPECT_TRUE(DeviceOpen(3));
    EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
    EXPECT_EQ(FtdiSim::Get().Query("dev:3 commands"), 1);
    EXPECT_EQ(FtdiSim::Get().Query("dev:1 commands"), 1);

    EXPECT_TRUE(session.Release(firstHandle));
    EXPECT_FALSE(DeviceOpen(1));
    EXPECT_TRUE(DeviceOpen(3));
}

TEST(Attach, FailedAttachLeavesTheRobotAsItWas) {
    ASSERT_TRUE(FtdiSimReady());
    vxsim::SimServer sim;
    const int tcpPort = sim.ListenTcp();
    ASSERT_GT(tcpPort, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, tcpPort), nullptr);
    session.StartPolling();
    const long unread = UnreadReply(session.robot());
    ASSERT_NE(unread, 0);

    EXPECT_EQ(Api().AttachSerialPort(session.robot(), 250), nullptr);  // no such COM port
    EXPECT_EQ(Api().AttachFTDIDevice(session.robot(), L"No Such Tool"), nullptr);
    EXPECT_EQ(Api().AttachFTDIDeviceByLoc(session.robot(), 0xBAD0), nullptr);
    EXPECT_EQ(Api().AttachFTDIDeviceByIndex(session.robot(), 99), nullptr);
    EXPECT_EQ(Api().AttachTcpPort(session.robot(), L"127.0.0.1", static_cast<unsigned int>(ClosedTcpPort()), 300),
              nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(DeviceOpen(i)) << i;

    // The unread reply is still there, and the port attached before still
    // carries commands.
    CRobotCommand* record = Api().GetReply(session.robot(), unread);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsReplyComplete());
    EXPECT_EQ(ReplyOf(record), EchoFrame(kPayload));
    EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
    EXPECT_EQ(sim.Connections(), 1u);
}

TEST(Attach, EveryReleaseWithNullReturnsFalse) {
    EXPECT_FALSE(Api().ReleaseSerialPort(nullptr));
    EXPECT_FALSE(Api().SerialReleasePort(nullptr));
    EXPECT_FALSE(Api().ReleaseTcpPort(nullptr));
    EXPECT_FALSE(Api().TcpReleasePort(nullptr));
    EXPECT_FALSE(Api().ReleaseFTDIDevice(nullptr));
    EXPECT_FALSE(Api().FtdiRelease(nullptr));
}

TEST(Attach, EveryAttachWithANullRobotReturnsNull) {
    vxsim::SimServer sim;
    const int tcpPort = sim.ListenTcp();
    ASSERT_GT(tcpPort, 0);
    EXPECT_EQ(Api().AttachSerialPort(nullptr, kComPort), nullptr);
    EXPECT_EQ(Api().AttachTcpPort(nullptr, L"127.0.0.1", static_cast<unsigned int>(tcpPort), 0), nullptr);
    EXPECT_EQ(Api().AttachFTDIDevice(nullptr, L"Vornex Sim Tool"), nullptr);
    EXPECT_EQ(Api().AttachFTDIDeviceByLoc(nullptr, 0x1011), nullptr);
    EXPECT_EQ(Api().AttachFTDIDeviceByIndex(nullptr, 0), nullptr);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(sim.Connections(), 0u);
}

TEST(Attach, TheOtherReleaseNamesFreeTheirPorts) {
    ASSERT_TRUE(FtdiSimReady());
    vxsim::SimServer sim;
    const int tcpPort = sim.ListenTcp();
    ASSERT_GT(tcpPort, 0);
    ROBOT_HANDLE robot = static_cast<ROBOT_HANDLE>(Host().Create());
    PORT_HANDLE tcp = Api().AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned int>(tcpPort), 5000);
    PORT_HANDLE ftdi = Api().AttachFTDIDeviceByIndex(robot, 2);
    EXPECT_TRUE(Host().Destroy(robot));
    ASSERT_NE(tcp, nullptr);
    ASSERT_NE(ftdi, nullptr);
    // Nothing uses the ports any more; the aliases release them.
    EXPECT_TRUE(Api().TcpReleasePort(tcp));
    EXPECT_TRUE(PumpUntil([&] { return !sim.IsConnected(); }, 5000));
    EXPECT_TRUE(DeviceOpen(2));
    EXPECT_TRUE(Api().FtdiRelease(ftdi));
    EXPECT_FALSE(DeviceOpen(2));
}

TEST(Attach, TcpConnectTimeZeroGivesAPortTheRobotDoesNotUse) {
    vxsim::SimServer used, loose;
    const int usedPort = used.ListenTcp();
    const int loosePort = loose.ListenTcp();
    ASSERT_GT(usedPort, 0);
    ASSERT_GT(loosePort, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, usedPort), nullptr);
    session.StartPolling();
    const long unread = UnreadReply(session.robot());
    ASSERT_NE(unread, 0);

    PORT_HANDLE looseHandle = AttachTcp(session, loosePort, 0);
    ASSERT_NE(looseHandle, nullptr);
    // Nothing was detached: the reply is kept and commands go where they went.
    EXPECT_NE(Api().GetReply(session.robot(), unread), nullptr);
    EXPECT_EQ(RoundTrip(session.robot(), kText), EchoFrame(kPayload));
    EXPECT_EQ(used.CommandCount(), 2u);
    // The loose port connects on its own while this thread pumps, and gets nothing.
    EXPECT_TRUE(PumpUntil([&] { return loose.IsConnected(); }, 5000));
    EXPECT_EQ(loose.CommandCount(), 0u);
    EXPECT_TRUE(session.Release(looseHandle));
    EXPECT_TRUE(PumpUntil([&] { return !loose.IsConnected(); }, 5000));
}

TEST(Attach, TcpConnectTimeZeroOnARobotWithoutAPortLeavesItWithout) {
    vxsim::SimServer loose;
    const int loosePort = loose.ListenTcp();
    ASSERT_GT(loosePort, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, loosePort, 0), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return loose.IsConnected(); }, 5000));
    Host().SetTimeout(session.robot(), 200);
    session.StartPolling();
    const long id = Api().SendCommand(session.robot(), kText);
    CRobotCommand* record = WaitFinished(session.robot(), id, 5000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_EQ(loose.CommandCount(), 0u);
    EXPECT_TRUE(loose.Received().empty());
}

TEST(Attach, TcpConnectTimeRunsOutWithNothingListening) {
    RobotSession session;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Api().AttachTcpPort(session.robot(), L"127.0.0.1", static_cast<unsigned int>(ClosedTcpPort()), 500),
              nullptr);
    // A refused connection does not end the wait: the connect time does.
    EXPECT_GE(GetTickCount() - start, 450u);
}

TEST(Attach, QuitMessageEndsTheConnectWaitAndIsPostedAgain) {
    vxsim::SimServer sim;
    const int tcpPort = sim.ListenTcp();
    ASSERT_GT(tcpPort, 0);
    RobotSession session;
    PostQuitMessage(0);
    EXPECT_EQ(Api().AttachTcpPort(session.robot(), L"127.0.0.1", static_cast<unsigned int>(tcpPort), 10000), nullptr);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // Without the quit message the same attach succeeds.
    EXPECT_NE(AttachTcp(session, tcpPort), nullptr);
}
