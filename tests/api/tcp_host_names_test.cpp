// ROBOT_AttachTcpPort with a host name: the name is resolved, again when the
// tool drops the link, and one that does not resolve is a connection that
// never comes, so the attach waits its whole limit.
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include "support/vornex_test.h"

using namespace vxt;

TEST(TcpHostNames, AnUnknownNameWaitsItsWholeLimit) {
    vxsim::SimServer sim;
    ROBOT_HANDLE robot = ROBOT_Create();
    const DWORD start = GetTickCount();
    EXPECT_EQ(ROBOT_AttachTcpPort(robot, L"vx-nowhere.invalid", static_cast<unsigned>(sim.ListenTcp()), 500), nullptr);
    EXPECT_GE(GetTickCount() - start, 450u);
    ROBOT_Destroy(robot);
}

TEST(TcpHostNames, ADroppedLinkIsMadeAgainByNameAndTheLogHasNoLineForIt) {
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    Rig::Options options;  // the 32-bit runner's chroot has no hosts file: its address there
    options.host = getaddrinfo("localhost", nullptr, &hints, &found) == 0 ? L"localhost" : L"127.0.0.1";
    if (found) freeaddrinfo(found);
    Rig rig(PortKind::Tcp, options);
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(rig.RoundTrip(L"0f01").size(), 10u);
    rig.Sim()->CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Sim()->IsConnected(); }, 3000));
    // Time for the close to reach the port, so that the next command waits
    // for the link to make the connection again rather than being lost.
    WaitUntil([] { return false; }, 300);
    size_t size = 0;  // one written as the link drops is lost with it
    for (int i = 0; i < 3 && size == 0; ++i) size = rig.RoundTrip(L"0f02", 8000).size();
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(rig.Sim()->Connections(), 2u);
    EXPECT_TRUE(rig.WaitLog("Issuing:0f02")) << rig.Log();
    EXPECT_EQ(rig.Log().find("Reconnecting"), std::string::npos) << rig.Log();
}
