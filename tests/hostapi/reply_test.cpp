// Replies as a host fetches them: one part as a VT_I1 vector, several parts
// (a page read) as a VT_UI1 matrix with short parts zero-padded, nothing and
// abandoned commands leaving the host's array alone, and ROBOT_WaitReplyBytes
// pumping messages on a TCP link but waiting in the kernel on an FTDI link.
#include <gtest/gtest.h>

#include "host_session.h"
#include "scripted_tool.h"
#include "sim/reply_frames.h"
#include "sim/server/sim_server.h"

namespace {

// Whole 16-bit words: the frame's length field counts words.
const std::vector<uint8_t> kPayload = {0xBE, 0x01, 0x02, 0x03};
const wchar_t* const kText = L"BE010203";

// The page read that ROBOT_ReadFlashPages issues: flag 1 (no sum check).
long ReadPages(ROBOT_HANDLE robot, long first, long count) {
    return ROBOT_ReadFlashPages(robot, first, count, 38400, 1, nullptr);
}

void ExpectMatrixColumn(SAFEARRAY* matrix, long column, const std::vector<uint8_t>& bytes, long width) {
    for (long j = 0; j < width; ++j) {
        const uint8_t expected = j < static_cast<long>(bytes.size()) ? bytes[static_cast<size_t>(j)] : 0;
        ASSERT_EQ(MatrixAt(matrix, j, column), expected) << "byte " << j << " of part " << column;
    }
}

class RepliesOverTcp : public ::testing::Test {
protected:
    void SetUp() override {
        const int port = sim.ListenTcp();
        ASSERT_GT(port, 0);
        ASSERT_NE(AttachTcp(session, port), nullptr);
        session.StartPolling();
    }
    ROBOT_HANDLE robot() const { return session.robot(); }

    vxsim::SimServer sim;
    RobotSession session;
};

} // namespace

TEST_F(RepliesOverTcp, OnePartIsAByteVectorThatReplacesTheHostsArray) {
    const long id = Api().SendCommand(robot(), kText);
    CRobotCommand* record = WaitFinished(robot(), id, 5000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplyCount(), 1);

    HostArray reply(MakeByteVector({1, 2, 3}));  // given up to the library
    const std::vector<uint8_t> frame = EchoFrame(kPayload);
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, reply.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(TypeOf(reply.get()), VT_I1);
    EXPECT_EQ(DimsOf(reply.get()), 1u);
    EXPECT_TRUE(LowerBoundsAreZero(reply.get()));
    EXPECT_EQ(BytesOf(reply.get()), frame);

    // Fetching does not delete; deleting does.
    HostArray again;
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, again.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(BytesOf(again.get()), frame);
    EXPECT_TRUE(Api().DeleteReply(robot(), id));
    EXPECT_FALSE(Api().DeleteReply(robot(), id));
    HostArray gone;
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, gone.out()), 0);
    EXPECT_EQ(gone.get(), nullptr);
}

TEST_F(RepliesOverTcp, NothingToFetchLeavesTheHostsArrayAlone) {
    HostArray held(MakeByteVector({7, 8}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().GetReplyBytes(robot(), 0x7FFFFFF0, held.out()), 0);
    EXPECT_EQ(Api().GetReplyBytes(robot(), 0, held.out()), 0);
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(BytesOf(held.get()), (std::vector<uint8_t>{7, 8}));
}

TEST_F(RepliesOverTcp, APageReadGivesOneMatrixColumnPerPage) {
    const long id = ReadPages(robot(), 0x10, 3);
    ASSERT_GT(id, 0);
    CRobotCommand* record = WaitFinished(robot(), id, 10000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplyCount(), 3);

    HostArray matrix(MakeByteVector({1}));
    const long width = static_cast<long>(vxsim::kPageFrameSize);
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, matrix.out()), width);
    ASSERT_NE(matrix.get(), nullptr);
    EXPECT_EQ(TypeOf(matrix.get()), VT_UI1);
    ASSERT_EQ(DimsOf(matrix.get()), 2u);
    EXPECT_TRUE(LowerBoundsAreZero(matrix.get()));
    EXPECT_EQ(CountOf(matrix.get(), 1), width);
    EXPECT_EQ(CountOf(matrix.get(), 2), 3);
    for (long k = 0; k < 3; ++k)
        ExpectMatrixColumn(matrix.get(), k, vxsim::BuildPageFrame(0x10 + static_cast<uint32_t>(k), static_cast<uint8_t>(k), false),
                           width);
}

TEST(Replies, ShortPartsOfAMatrixAreZeroPadded) {
    // Page 5 as a whole page frame, then a short frame for the request's
    // second page.
    const std::vector<uint8_t> whole = vxsim::BuildPageFrame(5, 0, false);
    const std::vector<uint8_t> shortPayload = {0xBE, 0x4D, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x11, 0x22};
    const std::vector<uint8_t> shortFrame = vxsim::BuildReplyFrame(shortPayload.data(), shortPayload.size());
    ASSERT_EQ(shortFrame[10], 0x01);
    std::vector<uint8_t> answer = whole;
    answer.insert(answer.end(), shortFrame.begin(), shortFrame.end());

    ScriptedTool tool;
    ASSERT_GT(tool.Port(), 0);
    tool.Answer(answer);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, tool.Port()), nullptr);
    session.StartPolling();
    const long id = ReadPages(session.robot(), 5, 2);
    ASSERT_GT(id, 0);
    CRobotCommand* record = WaitFinished(session.robot(), id, 10000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplyCount(), 2);

    HostArray matrix;
    const long width = static_cast<long>(whole.size());
    EXPECT_EQ(Api().GetReplyBytes(session.robot(), id, matrix.out()), width);
    EXPECT_EQ(TypeOf(matrix.get()), VT_UI1);
    EXPECT_TRUE(LowerBoundsAreZero(matrix.get()));
    EXPECT_EQ(CountOf(matrix.get(), 1), width);
    EXPECT_EQ(CountOf(matrix.get(), 2), 2);
    ExpectMatrixColumn(matrix.get(), 0, whole, width);
    ExpectMatrixColumn(matrix.get(), 1, shortFrame, width);

    // ROBOT_WaitReplyBytes gives one part only: the one under the reply walk,
    // none before a walk has started.
    HostArray single(MakeByteVector({9}));
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), id, 1000, single.out()), 0);
    EXPECT_EQ(TypeOf(single.get()), VT_I1);
    EXPECT_EQ(CountOf(single.get(), 1), 0);
    EXPECT_TRUE(LowerBoundsAreZero(single.get()));
    ASSERT_TRUE(record->StartReplyWalk());
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), id, 1000, single.out()), width);
    EXPECT_EQ(BytesOf(single.get()), whole);
    ASSERT_TRUE(record->NextReply());
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), id, 1000, single.out()), static_cast<long>(shortFrame.size()));
    EXPECT_EQ(BytesOf(single.get()), shortFrame);
    EXPECT_EQ(DimsOf(single.get()), 1u);
}

TEST_F(RepliesOverTcp, WaitReplyBytesPumpsMessagesWhileItWaits) {
    // Nobody else dispatches this thread's messages, and the reply reaches
    // the port only through them.
    const long id = Api().SendCommand(robot(), kText);
    HostArray reply;
    const std::vector<uint8_t> frame = EchoFrame(kPayload);
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 5000, reply.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(TypeOf(reply.get()), VT_I1);
    EXPECT_TRUE(LowerBoundsAreZero(reply.get()));
    EXPECT_EQ(BytesOf(reply.get()), frame);
}

TEST_F(RepliesOverTcp, WaitReplyBytesWithTimeoutZeroReturnsAtOnceEvenWithTheReplyThere) {
    const long id = Api().SendCommand(robot(), kText);
    CRobotCommand* record = WaitFinished(robot(), id, 5000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    HostArray held(MakeByteVector({4, 5}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 0, held.out()), 0);
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 1000, held.out()), static_cast<long>(EchoFrame(kPayload).size()));
    EXPECT_EQ(BytesOf(held.get()), EchoFrame(kPayload));
}

TEST_F(RepliesOverTcp, WaitReplyBytesOnAnUnansweredCommand) {
    ASSERT_TRUE(sim.AddFaults("be77:noreply#1"));
    Host().SetTimeout(robot(), 1000);
    const long id = Api().SendCommand(robot(), L"BE77");
    HostArray held(MakeByteVector({4}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 200, held.out()), 0);  // time runs out first
    CRobotCommand* record = WaitFinished(robot(), id, 10000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsAbandoned());
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 1000, held.out()), -1);
    EXPECT_EQ(held.get(), heldArray);
}

TEST_F(RepliesOverTcp, QuitMessageEndsWaitReplyBytesAndIsPostedAgain) {
    ASSERT_TRUE(sim.AddFaults("be77:noreply#1"));
    Host().SetTimeout(robot(), 60000);
    const long id = Api().SendCommand(robot(), L"BE77");
    HostArray held;
    PostQuitMessage(0);
    const DWORD start = GetTickCount();
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 60000, held.out()), 0);
    EXPECT_LT(GetTickCount() - start, 30000u);  // ended by the quit message, not the time limit
    EXPECT_EQ(held.get(), nullptr);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // The session's end drops the command still awaited.
}

TEST_F(RepliesOverTcp, WaitReplyBytesReturnsAtThePagesOfAReadInProgress) {
    // The third page never comes: the read stays incomplete until its time
    // limit, which is well within the wait.
    ASSERT_TRUE(sim.AddFaults("be4d:droppage=2#1"));
    Host().SetTimeout(robot(), 3000);
    const long id = ReadPages(robot(), 0x20, 3);
    ASSERT_GT(id, 0);
    HostArray held(MakeByteVector({4}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().WaitReplyBytes(robot(), id, 20000, held.out()), 0);
    CRobotCommand* record = Api().GetReply(robot(), id);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(record->IsAbandoned());  // it returned before the time limit
    EXPECT_FALSE(record->IsReplyComplete());
    EXPECT_GE(record->GetReplyCount(), 1);
    EXPECT_EQ(held.get(), heldArray);

    record = WaitFinished(robot(), id, 10000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_EQ(record->GetReplyCount(), 2);
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, held.out()), -1);
    EXPECT_EQ(held.get(), heldArray);
}

TEST(Replies, WaitReplyBytesOnAnFtdiLinkWaitsForTheReplyItself) {
    ASSERT_TRUE(FtdiSimReady());
    RobotSession session;
    ASSERT_NE(session.Keep(Api().AttachFTDIDeviceByIndex(session.robot(), 0), PortKind::kFtdi), nullptr);
    session.StartPolling();
    const std::vector<uint8_t> frame = EchoFrame(kPayload);

    const long id = Api().SendCommand(session.robot(), kText);
    HostArray reply;
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), id, 5000, reply.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(TypeOf(reply.get()), VT_I1);
    EXPECT_EQ(BytesOf(reply.get()), frame);
    // Without a TCP port a time limit of 0 still returns a reply that is there.
    HostArray again;
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), id, 0, again.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(BytesOf(again.get()), frame);

    // An unanswered command: 0 while the wait runs out, -1 once abandoned.
    ASSERT_EQ(FtdiSim::Get().Control("fault be77:noreply#1"), 0);
    Host().SetTimeout(session.robot(), 500);
    const long lost = Api().SendCommand(session.robot(), L"BE77");
    HostArray held(MakeByteVector({4}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), lost, 100, held.out()), 0);
    CRobotCommand* record = WaitFinished(session.robot(), lost, 10000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsAbandoned());
    EXPECT_EQ(Api().WaitReplyBytes(session.robot(), lost, 0, held.out()), -1);
    EXPECT_EQ(Api().GetReplyBytes(session.robot(), lost, held.out()), -1);
    EXPECT_EQ(held.get(), heldArray);
}
