// ROBOT_WaitReplyBytes off TCP waits for the whole reply, not its first pages,
// and neither dispatches nor ends on the host's messages (on TCP: commands_test).
#include <gtest/gtest.h>

#include "support/vornex_test.h"

using namespace vxt;

class WaitOffTcp : public ::testing::TestWithParam<PortKind> {};
INSTANTIATE_TEST_SUITE_P(ComAndFtdi, WaitOffTcp, ::testing::Values(PortKind::Com, PortKind::Ftdi),
                         [](const ::testing::TestParamInfo<PortKind>& info) { return Name(info.param); });

TEST_P(WaitOffTcp, WaitsForTheWholePageReadAndLeavesTheMessagesQueued) {
    Rig rig(GetParam());
    ASSERT_TRUE(rig.Attached());
    ROBOT_SetTimeout(rig.robot(), 5000);  // no page comes late on a busy machine
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 7, 0));
    PostQuitMessage(0);
    const long id = ROBOT_ReadFlashPages(rig.robot(), 0x20, 3, 38400, 1, nullptr);
    Array reply;
    EXPECT_EQ(ROBOT_WaitReplyBytes(rig.robot(), id, 20000, reply.out()), 0);  // several parts, none walked
    CRobotCommand* record = ROBOT_GetReply(rig.robot(), id);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsReplyComplete());
    EXPECT_EQ(record->GetReplyCount(), 3);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE) && msg.wParam == 7) << "dispatched";
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    const long one = rig.Send(L"BE010203");  // one part: its bytes, at 0 ms too once it is there
    EXPECT_EQ(ROBOT_WaitReplyBytes(rig.robot(), one, 5000, reply.out()), 12);
    EXPECT_EQ(ROBOT_WaitReplyBytes(rig.robot(), one, 0, reply.out()), 12);
}
