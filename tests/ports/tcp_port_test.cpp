// CTCPPort through vornex.dll against loopback listeners. The test thread
// creates the sockets, so it pumps its messages while it waits.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ports/tcp_port.h"
#include "protocol/command_frame.h"
#include "sim/server/sim_server.h"
#include "tests/ports/loopback_peer.h"
#include "tests/ports/message_pump.h"

namespace {

std::string ReadAll(CTCPPort& port) {
    char buffer[2048];
    const int n = port.Read(buffer, sizeof(buffer));
    return std::string(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

// A port number that refuses connections: bound once, then released.
unsigned short ClosedPortNumber() {
    PeerListener listener;
    return listener.Port();
}

class TcpLink : public ::testing::Test {
protected:
    // Opens the port on the listener and accepts the connection.
    void Connect() {
        ASSERT_TRUE(listener.Valid());
        ASSERT_EQ(port.Open(L"127.0.0.1", listener.Port()), 0);
        ASSERT_TRUE(PumpUntil([&] { return Signalled(port.GetConnectEvent()); }, 5000)) << "no connect result";
        ASSERT_TRUE(port.IsOpen());
        peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
    }
    // Sends from the far end and pumps until the port holds count bytes.
    bool Deliver(const std::string& bytes, int count) {
        return peer.SendAll(bytes) && PumpUntil([&] { return port.BytesAvailable() == count; }, 5000);
    }
    // Writes from the port until a write fails (the loss is noticed), pumping
    // in between; false if every write kept succeeding.
    bool WriteUntilRefused(CTCPPort& p) {
        return PumpUntil([&] { return p.Write("w", 1) == 0; }, 5000);
    }

    WinsockSession sockets;
    PeerListener listener;
    PeerSocket peer;
    CTCPPort port;
};

} // namespace

TEST_F(TcpLink, ConnectsAsynchronouslyAndReportsOpen) {
    EXPECT_FALSE(port.IsOpen());
    Connect();
    EXPECT_STREQ(port.GetHostName(), L"127.0.0.1");
    EXPECT_EQ(port.GetPortNumber(), listener.Port());
}

TEST_F(TcpLink, ReceivedBytesSignalTheDataEventAndReadInOrder) {
    Connect();
    const std::string bytes = Pattern(300, 5);
    ASSERT_TRUE(peer.SendAll(bytes));
    ASSERT_TRUE(PumpUntil([&] { return Signalled(port.GetDataEvent()); }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return port.BytesAvailable() == 300; }, 5000));
    char part[100];
    ASSERT_EQ(port.Read(part, 100), 100);
    EXPECT_EQ(std::string(part, 100), bytes.substr(0, 100));
    EXPECT_EQ(port.BytesAvailable(), 200);
    EXPECT_EQ(ReadAll(port), bytes.substr(100));
    EXPECT_EQ(port.BytesAvailable(), 0);
}

TEST_F(TcpLink, WritesReachThePeer) {
    Connect();
    const std::string bytes = Pattern(1500, 9);
    EXPECT_EQ(port.Write(bytes.data(), static_cast<int>(bytes.size())), 1500);
    EXPECT_EQ(peer.ReceiveExactly(bytes.size()), bytes);
}

TEST_F(TcpLink, EmptyReadsAndEmptyWritesDoNothing) {
    char buffer[16];
    EXPECT_EQ(port.Read(buffer, sizeof(buffer)), 0);  // never connected
    Connect();
    EXPECT_EQ(port.Read(buffer, sizeof(buffer)), 0);
    EXPECT_EQ(port.Read(buffer, 0), 0);
    EXPECT_EQ(port.Read(buffer, -1), 0);
    EXPECT_EQ(port.Read(nullptr, 16), 0);
    EXPECT_EQ(port.Write(nullptr, 4), 0);
    EXPECT_EQ(port.Write("abc", 0), 0);
    EXPECT_EQ(peer.ReceiveAny(100), "");
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(TcpLink, AFullBufferHoldsTheRestInTheSocketUntilRead) {
    Connect();
    const std::string bytes = Pattern(1500, 77);
    ASSERT_TRUE(peer.SendAll(bytes));
    ASSERT_TRUE(PumpUntil([&] { return port.BytesAvailable() == 1024; }, 5000));
    PumpFor(50);
    EXPECT_EQ(port.BytesAvailable(), 1024);
    char first[1024];
    ASSERT_EQ(port.Read(first, sizeof(first)), 1024);
    EXPECT_EQ(std::string(first, 1024), bytes.substr(0, 1024));
    // No new bytes arrive: the room alone brings the held-back rest in.
    ASSERT_TRUE(PumpUntil([&] { return port.BytesAvailable() == 476; }, 5000)) << port.BytesAvailable();
    EXPECT_EQ(ReadAll(port), bytes.substr(1024));
}

TEST_F(TcpLink, PeerCloseClearsTheFlagAndKeepsBufferedBytes) {
    Connect();
    ASSERT_TRUE(peer.SendAll("tail"));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !port.IsOpen(); }, 5000));
    PumpFor(20);
    EXPECT_EQ(port.BytesAvailable(), 4);
    EXPECT_EQ(ReadAll(port), "tail");
}

TEST_F(TcpLink, WriteAfterALostConnectionReconnectsOnceTheListenerIsBack) {
    Connect();
    const unsigned short number = listener.Port();
    peer.Close();
    listener.Close();
    ASSERT_TRUE(PumpUntil([&] { return !port.IsOpen(); }, 5000));
    // The loss is noticed by a failing write, which starts a new attempt:
    // refused while nobody listens.
    ASSERT_TRUE(WriteUntilRefused(port));
    PumpFor(100);
    EXPECT_FALSE(port.IsOpen());

    ASSERT_TRUE(listener.Listen(number));
    EXPECT_EQ(port.Write("w", 1), 0);  // still not connected: a new attempt
    ASSERT_TRUE(PumpUntil([&] { return port.IsOpen(); }, 5000));
    peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(Deliver("back", 4));
    EXPECT_EQ(ReadAll(port), "back");
    EXPECT_EQ(port.Write("ok", 2), 2);
    EXPECT_EQ(peer.ReceiveExactly(2), "ok");
}

TEST_F(TcpLink, AReconnectStartedOnAnotherThreadNotifiesTheCreatingThread) {
    Connect();
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !port.IsOpen(); }, 5000));
    // Like the robot's worker, this thread writes and dispatches no messages.
    std::atomic<bool> refused{false};
    std::thread writer([&] {
        for (int i = 0; i < 500 && !refused; ++i) {
            if (port.Write("w", 1) == 0) refused = true;
            else Sleep(10);
        }
    });
    writer.join();
    ASSERT_TRUE(refused);
    ASSERT_TRUE(PumpUntil([&] { return port.IsOpen(); }, 5000));
    peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(Deliver("fresh", 5));
    EXPECT_EQ(ReadAll(port), "fresh");
}

TEST(TcpPort, NotificationsQueuedForADestroyedPortAreDropped) {
    WinsockSession sockets;
    PeerListener listener;
    CTCPPort* port = new CTCPPort;
    port->Open(L"127.0.0.1", listener.Port());
    PeerSocket peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(peer.SendAll("late"));
    Sleep(100);  // connect, write and read notifications wait in the queue
    delete port;
    PumpFor(100);

    CTCPPort next;
    next.Open(L"127.0.0.1", listener.Port());
    ASSERT_TRUE(PumpUntil([&] { return next.IsOpen(); }, 5000));
    PeerSocket nextPeer = listener.Accept();
    ASSERT_TRUE(nextPeer.SendAll("new"));
    ASSERT_TRUE(PumpUntil([&] { return next.BytesAvailable() == 3; }, 5000));
    EXPECT_EQ(ReadAll(next), "new");
}

TEST(TcpPort, OpenIsZeroEvenWhenNothingCanConnect) {
    WinsockSession sockets;
    CTCPPort port;
    EXPECT_EQ(port.Open(L"127.0.0.1", ClosedPortNumber()), 0);
    ASSERT_TRUE(PumpUntil([&] { return Signalled(port.GetConnectEvent()); }, 5000)) << "refusal not reported";
    EXPECT_FALSE(port.IsOpen());
    char buffer[4];
    EXPECT_EQ(port.Read(buffer, sizeof(buffer)), 0);
}

TEST(TcpPort, HostNameIsCutAt259Characters) {
    WinsockSession sockets;
    CTCPPort port;
    const std::wstring longName(300, L'a');
    EXPECT_EQ(port.Open(longName.c_str(), 80), 0);
    EXPECT_EQ(std::wstring(port.GetHostName()), longName.substr(0, 259));
    EXPECT_EQ(port.GetPortNumber(), 80u);
    // Such a name never resolves: no attempt, so neither event nor flag.
    PumpFor(100);
    EXPECT_FALSE(Signalled(port.GetConnectEvent()));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open(nullptr, 81), 0);
    EXPECT_STREQ(port.GetHostName(), L"");
}

TEST(TcpPortWithTool, ToolInfoRequestIsAnsweredByTheSimulator) {
    vxsim::SimServer tool;
    const int toolPort = tool.ListenTcp();
    ASSERT_GT(toolPort, 0) << tool.LastError();
    CTCPPort port;
    port.Open(L"127.0.0.1", static_cast<unsigned int>(toolPort));
    ASSERT_TRUE(PumpUntil([&] { return port.IsOpen(); }, 5000));
    const std::vector<unsigned char> frame = EncodeCommand(L"BE09", 4, false, false);
    ASSERT_EQ(port.Write(reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size())),
              static_cast<int>(frame.size()));
    ASSERT_TRUE(PumpUntil([&] { return port.BytesAvailable() >= 10; }, 5000));
    PumpFor(50);
    EXPECT_EQ(ReadAll(port), "9.1.V1.0.0");
}
