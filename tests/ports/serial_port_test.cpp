// CSerialPort through vornex.dll against a real Wine COM port: COM6 is a pty
// whose far end is whatever connects to 127.0.0.1:47006 (the test itself).
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "ports/serial_port.h"
#include "protocol/command_frame.h"
#include "sim/server/sim_server.h"
#include "support/test_files.h"
#include "tests/ports/loopback_peer.h"

namespace {

constexpr unsigned int kComPort = 6;
constexpr unsigned short kLinePort = 47006;
constexpr unsigned int kBaud = 38400;

// Sees what the port keeps inside.
class InspectedSerialPort : public CSerialPort {
public:
    HANDLE Handle() const { return m_port; }
    bool BufferZeroFrom(int position) const {
        for (int i = position; i < kBufferSize; ++i)
            if (m_buffer[i] != 0) return false;
        return true;
    }
};

std::string ReadAll(CSerialPort& port) {
    char buffer[CSerialPort::kBufferSize];
    const int n = port.Read(buffer, sizeof(buffer));
    return std::string(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

class SerialLine : public ::testing::Test {
protected:
    void SetUp() override {
        // The line drops what the port sends while no peer is connected, so
        // the peer connects first and a first byte proves the line is up.
        peer = PeerSocket::ConnectTo(kLinePort);
        ASSERT_TRUE(peer.Valid()) << "no pty link on port " << kLinePort;
        ASSERT_EQ(port.Open(kComPort, kBaud), 0);
        ASSERT_TRUE(port.StartPolling());
        ASSERT_TRUE(peer.SendAll("\x55"));
        ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() >= 1; }, 5000)) << "line did not come up";
        port.ClearBuffer();
        WaitForSingleObject(port.GetEvent(), 0);  // consume the sync byte's signal
    }
    void TearDown() override { port.Close(); }

    // Sends from the far end and waits until the port holds count bytes.
    bool Deliver(const std::string& bytes, int count) {
        return peer.SendAll(bytes) && WaitUntil([&] { return port.BytesAvailable() == count; }, 5000);
    }

    WinsockSession sockets;
    PeerSocket peer;
    InspectedSerialPort port;
};

std::atomic<int> g_callbacks{0};
CSerialPort* g_callbackPort = nullptr;
void* g_callbackUser = nullptr;
std::atomic<int> g_countSeenInCallback{0};

void CountingCallback(CSerialPort* port, void* user) {
    g_callbackPort = port;
    g_callbackUser = user;
    g_countSeenInCallback = port->BytesAvailable();
    ++g_callbacks;
}

void OtherCallback(CSerialPort*, void*) {}

} // namespace

TEST_F(SerialLine, OpensAt38400EightDataBitsNoParityOneStopBit) {
    DCB settings = {};
    settings.DCBlength = sizeof(settings);
    ASSERT_TRUE(GetCommState(port.Handle(), &settings));
    EXPECT_EQ(settings.BaudRate, kBaud);
    EXPECT_EQ(settings.ByteSize, 8);
    EXPECT_EQ(settings.Parity, NOPARITY);
    EXPECT_EQ(settings.StopBits, ONESTOPBIT);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialLine, BytesTravelBothWaysAndSignalTheDataEvent) {
    const std::string inbound = Pattern(200, 3);
    ASSERT_TRUE(peer.SendAll(inbound));
    EXPECT_EQ(WaitForSingleObject(port.GetEvent(), 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 200; }, 5000));
    EXPECT_EQ(ReadAll(port), inbound);

    const std::string outbound = Pattern(700, 11);
    EXPECT_EQ(port.Write(outbound.data(), static_cast<int>(outbound.size())), 700);
    EXPECT_EQ(peer.ReceiveExactly(outbound.size()), outbound);
}

TEST_F(SerialLine, PartialReadsKeepOrderAndAFullReadClearsTheBuffer) {
    const std::string bytes = Pattern(10, 40);
    ASSERT_TRUE(Deliver(bytes, 10));
    char part[3];
    ASSERT_EQ(port.Read(part, 3), 3);
    EXPECT_EQ(std::string(part, 3), bytes.substr(0, 3));
    EXPECT_EQ(port.BytesAvailable(), 7);
    EXPECT_TRUE(port.BufferZeroFrom(7));

    char rest[100];
    ASSERT_EQ(port.Read(rest, sizeof(rest)), 7);
    EXPECT_EQ(std::string(rest, 7), bytes.substr(3));
    EXPECT_EQ(port.BytesAvailable(), 0);
    EXPECT_TRUE(port.BufferZeroFrom(0));
    EXPECT_EQ(port.Read(rest, sizeof(rest)), 0);  // empty: at once, nothing
}

TEST_F(SerialLine, OverflowDropsTheHeldBytesAndKeepsTheNewOnes) {
    ASSERT_TRUE(Deliver(Pattern(1000, 1), 1000));
    const std::string fresh = Pattern(100, 200);
    ASSERT_TRUE(peer.SendAll(fresh));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesAvailable() == 100; }, 5000)) << port.BytesAvailable();
    Sleep(50);  // nothing else is on its way
    EXPECT_EQ(ReadAll(port), fresh);
}

TEST_F(SerialLine, CallbackRunsAfterEachReadUntilSwitchedOff) {
    int user = 0;
    g_callbacks = 0;
    EXPECT_EQ(port.RegisterDataCallback(&CountingCallback, &user), nullptr);
    ASSERT_TRUE(Deliver("abc", 3));
    ASSERT_TRUE(WaitUntil([] { return g_callbacks > 0; }, 5000));
    EXPECT_EQ(g_callbackPort, static_cast<CSerialPort*>(&port));
    EXPECT_EQ(g_callbackUser, &user);
    EXPECT_GT(g_countSeenInCallback.load(), 0);  // called after the bytes are in

    EXPECT_EQ(port.RegisterDataCallback(&OtherCallback, nullptr), &CountingCallback);
    EXPECT_EQ(port.RegisterDataCallback(nullptr, nullptr), &OtherCallback);
    port.ClearBuffer();
    const int before = g_callbacks;
    ASSERT_TRUE(Deliver("de", 2));
    EXPECT_EQ(g_callbacks, before);
}

TEST_F(SerialLine, RefusedNumbersLeaveTheOpenPortAsItWas) {
    EXPECT_EQ(port.Open(256, kBaud), 1);
    EXPECT_EQ(port.Open(300, kBaud), 1);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.IsPolling());
    ASSERT_TRUE(Deliver("still", 5));
    EXPECT_EQ(ReadAll(port), "still");
}

TEST_F(SerialLine, ReopensAfterClose) {
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.IsPolling());
    EXPECT_EQ(port.BytesAvailable(), 0);
    char buffer[8];
    EXPECT_EQ(port.Read(buffer, sizeof(buffer)), 0);
    EXPECT_EQ(port.Write("x", 1), 0);

    ASSERT_EQ(port.Open(kComPort, 9600), 0);
    DCB settings = {};
    settings.DCBlength = sizeof(settings);
    ASSERT_TRUE(GetCommState(port.Handle(), &settings));
    EXPECT_EQ(settings.BaudRate, 9600u);
    ASSERT_TRUE(port.StartPolling());
    ASSERT_TRUE(Deliver("again", 5));
    EXPECT_EQ(ReadAll(port), "again");
    EXPECT_EQ(port.Write("back", 4), 4);
    EXPECT_EQ(peer.ReceiveExactly(4), "back");
}

TEST_F(SerialLine, BadArgumentsReadAndWriteNothing) {
    ASSERT_TRUE(Deliver("q", 1));
    char buffer[4];
    EXPECT_EQ(port.Read(nullptr, 4), 0);
    EXPECT_EQ(port.Read(buffer, 0), 0);
    EXPECT_EQ(port.Read(buffer, -5), 0);
    EXPECT_EQ(port.BytesAvailable(), 1);
    EXPECT_EQ(port.Write(nullptr, 4), 0);
    EXPECT_EQ(port.Write("zz", 0), 0);
    EXPECT_EQ(port.Write("zz", -1), 0);
    EXPECT_EQ(peer.ReceiveAny(100), "");
}

TEST(SerialPort, MissingPortsFailToOpenWithResultOne) {
    CSerialPort port;
    EXPECT_EQ(port.Open(0, kBaud), 1);   // \\.\COM0 never exists
    EXPECT_EQ(port.Open(77, kBaud), 1);  // nothing behind COM77 here
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, ClosedPortIsQuietAndCloseIsHarmless) {
    CSerialPort port;
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.BytesAvailable(), 0);
    EXPECT_NE(port.GetEvent(), nullptr);
    EXPECT_EQ(WaitForSingleObject(port.GetEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(SerialPortWithTool, ToolInfoRequestIsAnsweredByTheSimulator) {
    vxsim::SimServer tool;
    ASSERT_TRUE(tool.ConnectTcp("127.0.0.1", kLinePort, 5000)) << tool.LastError();
    CSerialPort port;
    ASSERT_EQ(port.Open(kComPort, kBaud), 0);
    ASSERT_TRUE(port.StartPolling());
    const std::vector<unsigned char> frame = EncodeCommand(L"BE09", 4, false, false);
    std::string reply;
    // The line reaches the tool only once the rig has taken its connection:
    // a request sent before that is lost, so it is sent again.
    for (int attempt = 0; attempt < 20 && reply.size() < 10; ++attempt) {
        port.ClearBuffer();
        ASSERT_EQ(port.Write(reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size())),
                  static_cast<int>(frame.size()));
        WaitUntil([&] { return port.BytesAvailable() >= 10; }, 500);
        reply = ReadAll(port);
    }
    EXPECT_EQ(reply, "9.1.V1.0.0");
    port.Close();
}
