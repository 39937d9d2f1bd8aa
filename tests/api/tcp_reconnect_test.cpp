// A TCP link whose tool drops the connection: the library makes it again by
// itself, looking the host name up again, and its log keeps to the lines a
// host reads (no line of its own for a reconnection).
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <string>

#include "support/vornex_test.h"

using namespace vxt;

namespace {

// A name for this machine where one resolves (the 32-bit runner has no
// hosts file), else its address.
const wchar_t* LoopbackName() {
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0) return L"127.0.0.1";
    freeaddrinfo(found);
    return L"localhost";
}

// A polling robot on a simulated tool that it reaches by name, logging.
struct NamedLink {
    NamedLink() : port(sim.ListenTcp()), robot(ROBOT_Create()) {
        tcp = ROBOT_AttachTcpPort(robot, LoopbackName(), static_cast<unsigned>(port), 5000);
        ROBOT_SetTimeout(robot, 1000);
        ROBOT_StartLogging(robot, log.c_str());
        ROBOT_StartPolling(robot);
    }
    ~NamedLink() {
        ROBOT_StopPolling(robot);
        ROBOT_Destroy(robot);
        if (tcp) ReleaseTcpPort(tcp);
    }
    // Sends text until a copy is answered, at most tries times (one written
    // as the link drops is lost with it): the answer's size, or what the
    // last try gave (-1 abandoned, 0 nothing).
    long RoundTrip(const wchar_t* text, int tries) {
        long size = 0;
        for (int i = 0; i < tries && size <= 0; ++i) {
            Array reply;
            const long id = ROBOT_SendCommand(robot, text);
            size = ROBOT_WaitReplyBytes(robot, id, 8000, reply.out());
            ROBOT_DeleteReply(robot, id);
        }
        return size;
    }
    vxsim::SimServer sim;
    const int port;
    const std::string log = TempPath("reconnect.log");
    ROBOT_HANDLE robot;
    PORT_HANDLE tcp = nullptr;
};

}  // namespace

TEST(TcpReconnect, ADroppedLinkIsMadeAgainByNameAndTheLogHasNoLineForIt) {
    NamedLink link;
    ASSERT_NE(link.tcp, nullptr);
    ASSERT_EQ(link.RoundTrip(L"0f01", 1), 10);
    link.sim.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return !link.sim.IsConnected(); }, 3000));
    // Time for the close to reach the port, so that the next command waits
    // for the link to make the connection again rather than being lost.
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(link.RoundTrip(L"0f02", 3), 10);
    EXPECT_EQ(link.sim.Connections(), 2u);
    ROBOT_StopPolling(link.robot);  // closes the log
    const std::string log = ReadFile(link.log);
    EXPECT_NE(log.find("Issuing:0f02"), std::string::npos) << log;
    EXPECT_EQ(log.find("Reconnecting"), std::string::npos) << log;
}
