// True/false results as a host sees them that declares them as 32-bit
// integers (a VB Long, a C int or BOOL): 1 or 0 in the whole register, on
// every port kind, from the plain names GetProcAddress finds.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/vornex_test.h"

using namespace vxt;

namespace {

typedef uint32_t(__stdcall* Result32)(void*);
typedef uint32_t(__stdcall* Result32Id)(void*, long);

// Through void (*)(): a plain function pointer of any type.
template <typename F> F As(FARPROC f) { return reinterpret_cast<F>(reinterpret_cast<void (*)()>(f)); }
Result32 Fn(const char* name) { return As<Result32>(Find(name)); }

class Abi : public ::testing::TestWithParam<PortKind> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(EveryPort, Abi, ::testing::ValuesIn(kEveryPort),
                         [](const ::testing::TestParamInfo<PortKind>& info) { return Name(info.param); });

TEST_P(Abi, TrueAndFalseFillTheWholeResult) {
    Rig::Options options;
    options.poll = false;
    Rig rig(GetParam(), options);
    ASSERT_TRUE(rig.Attached()) << Name(GetParam());
    auto deleteReply = As<Result32Id>(Find("ROBOT_DeleteReply"));
    ASSERT_TRUE(Fn("ROBOT_StartPolling") && Fn("ROBOT_IsIdle") && deleteReply);
    EXPECT_EQ(1u, Fn("ROBOT_StartPolling")(rig.robot()));
    const long id = rig.Send(L"BE09");
    ASSERT_GT(rig.Wait(id), 0);
    EXPECT_TRUE(WaitUntil([&] { return Fn("ROBOT_IsIdle")(rig.robot()) == 1u; }, 3000));
    EXPECT_EQ(1u, deleteReply(rig.robot(), id));
    EXPECT_EQ(0u, deleteReply(rig.robot(), id));
    EXPECT_EQ(0u, Fn("ROBOT_StartPolling")(nullptr));
    EXPECT_EQ(0u, Fn("ROBOT_IsIdle")(nullptr));
}

TEST(AbiResults, DestroyAndReleaseFillTheWholeResult) {
    EXPECT_EQ(1u, Fn("ROBOT_Destroy")(ROBOT_Create()));
    EXPECT_EQ(0u, Fn("ROBOT_Destroy")(nullptr));
    ROBOT_HANDLE robot = ROBOT_Create();
    // Connecting, not attached: the host alone frees it.
    PORT_HANDLE tcp = ROBOT_AttachTcpPort(robot, L"127.0.0.1", ClosedTcpPort(), 0);
    ASSERT_TRUE(tcp);
    EXPECT_EQ(1u, Fn("ReleaseTcpPort")(tcp));
    ROBOT_Destroy(robot);
    for (const char* name : {"ReleaseSerialPort", "Serial_ReleasePort", "ReleaseTcpPort", "TCP_ReleasePort",
                             "ReleaseFTDIDevice", "FTDI_Release"}) {
        ASSERT_TRUE(Fn(name)) << name;
        EXPECT_EQ(0u, Fn(name)(nullptr)) << name;
    }
}
