// ROBOT_AttachTcpPort with a host name rather than a dotted address: the
// name is resolved, and one that does not resolve is a connection that never
// comes, so the attach waits its whole limit.
#include <gtest/gtest.h>

#include "support/vornex_test.h"

#include <ws2tcpip.h>

using namespace vxt;

TEST(TcpHostNames, AnUnknownNameWaitsItsWholeLimitAndLocalhostConnects) {
    vxsim::SimServer sim;
    const unsigned port = static_cast<unsigned>(sim.ListenTcp());
    ROBOT_HANDLE robot = ROBOT_Create();
    const DWORD start = GetTickCount();
    EXPECT_EQ(ROBOT_AttachTcpPort(robot, L"vx-nowhere.invalid", port, 500), nullptr);
    EXPECT_GE(GetTickCount() - start, 450u);
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0) {  // the 32-bit runner's chroot has no /etc/hosts
        ROBOT_Destroy(robot);
        GTEST_SKIP() << "this machine does not resolve localhost";
    }
    freeaddrinfo(found);
    PORT_HANDLE local = ROBOT_AttachTcpPort(robot, L"localhost", port, 5000);
    ASSERT_NE(local, nullptr);
    ROBOT_StartPolling(robot);
    Array reply;
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot, ROBOT_SendCommand(robot, L"BE01"), 5000, reply.out()), 10);
    ROBOT_Destroy(robot);
    EXPECT_EQ(ReleaseTcpPort(local), 1);
}
