// Commands and replies as a host sends and fetches them over TCP: arrays of
// each type, empty, pre-framed, refused; kinds, raw writes, reply vectors and matrices.
#include <gtest/gtest.h>

#include "sim/reply_frames.h"
#include "support/process.h"
#include "support/vornex_test.h"

using namespace vxt;

namespace {

const std::vector<uint8_t> kPayload = {0xBE, 0x01, 0x02, 0x03};
const wchar_t* const kText = L"BE010203";

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.Attached()); }
    ROBOT_HANDLE robot() const { return rig.robot(); }
    vxsim::SimServer& sim() { return *rig.Sim(); }
    long SendBytes(SAFEARRAY* bytes, long kind) { Array a(bytes); return ROBOT_SendCommandBytes(robot(), a.out(), kind); }
    long Write(SAFEARRAY* bytes, long length) { Array a(bytes); return ROBOT_WriteToPort(robot(), a.out(), length); }
    std::vector<uint8_t> Reply(long id) {
        Array reply;
        return ROBOT_WaitReplyBytes(robot(), id, 5000, reply.out()) > 0 ? BytesOf(reply.get()) : std::vector<uint8_t>();
    }
    Rig rig{PortKind::Tcp};
};

std::vector<uint8_t> Column(SAFEARRAY* pages, long k) {  // 272 bytes
    std::vector<uint8_t> column;
    for (long j = 0; j < 272; ++j) column.push_back(At(pages, j, k));
    return column;
}

}  // namespace

// In a fresh process (this program run again for this test alone): the first ID is 1, and robots share one sequence.
TEST(FirstCommand, IdIsOneAndIdsAreSharedByEveryRobot) {
    if (!GetEnvironmentVariableA("VX_FIRST_COMMAND", nullptr, 0)) {
        vxproc::ScopedEnv fresh(L"VX_FIRST_COMMAND", L"1");
        const vxproc::Result run = vxproc::Run(L"api_test.exe", L"--gtest_filter=FirstCommand.*");
        EXPECT_EQ(run.exitCode, 0) << run.out;
        return;
    }
    ROBOT_HANDLE a = ROBOT_Create(), b = ROBOT_Create();
    const std::vector<long> ids = {ROBOT_SendCommand(a, L"0101"), ROBOT_SendCommand(b, L"0202"), ROBOT_SendCommand(a, L"0303")};
    EXPECT_EQ(ids, (std::vector<long>{1, 2, 3}));
    ROBOT_Destroy(a), ROBOT_Destroy(b);
}

TEST_F(Commands, ByteArraysOfEveryIntegerTypeAndAnyLowerBoundAndUnreadableOnesRefused) {
    struct Case { VARTYPE type; LONG lower; std::vector<long> elements; std::vector<uint8_t> payload; };
    const Case cases[] = {
        {VT_UI1, 0, {0xBE, 0x01, 0x02, 0x03}, {0xBE, 0x01, 0x02, 0x03}},
        {VT_I2, 0, {0x1BE, -1, 0x0A, 0x7FFF}, {0xBE, 0xFF, 0x0A, 0xFF}},  // the low byte of each
        {VT_I4, 0, {0xBE, 0x12345603}, {0xBE, 0x03}},
        {VT_I4, 1, {0xBE, 0x05, 0x06, 0x07}, {0xBE, 0x05, 0x06, 0x07}},
        {VT_UI2, -3, {0xBE, 0x07, 0x08, 0x09}, {0xBE, 0x07, 0x08, 0x09}},
        {VT_I1, 0, {0xBE, 0x0B}, {0xBE, 0x0B}},
        {VT_INT, 5, {0xBE, 0x0C}, {0xBE, 0x0C}},
        {VT_UI4, 0, {0xBE, 0x0D}, {0xBE, 0x0D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " from " << c.lower);
        const long id = SendBytes(Vector(c.type, c.lower, c.elements), 0);
        EXPECT_EQ(Reply(id), ReplyFrame(c.payload));  // the tool echoes what it got
        CRobotCommand* record = ROBOT_GetReply(robot(), id);
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(record->GetCommand() == eStandard && !record->IsAddressed());
    }
    // Unreadable arrays are refused and take no ID.
    const long before = rig.Send(L"BE01");
    ASSERT_EQ(Reply(before), ReplyFrame({0xBE, 0x01}));
    const size_t commands = sim().CommandCount();
    EXPECT_EQ(SendBytes(Matrix(VT_UI1, 2, 2, {}), 0), 0);
    EXPECT_EQ(SendBytes(Vector(VT_R8, 0, {0xBE, 0x09}), 0), 0);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(ROBOT_SendCommandBytes(robot(), &none, 0), 0);
    EXPECT_EQ(ROBOT_SendCommandBytes(robot(), nullptr, 0), 0);
    EXPECT_TRUE(ROBOT_IsIdle(robot()));
    const long after = rig.Send(L"BE01");
    EXPECT_EQ(after, before + 1);
    EXPECT_EQ(Reply(after), ReplyFrame({0xBE, 0x01}));
    EXPECT_EQ(sim().CommandCount(), commands + 1);
    // An empty array is an empty command, framed; text beyond ASCII is logged as the host's narrow strings are.
    sim().ClearReceived();
    EXPECT_GT(SendBytes(Vector(VT_UI1, 0, {}), 0), 0);
    EXPECT_TRUE(rig.WaitToolReceived(FrameOf(L"")));
    char narrow[16] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, L"BE\u00e9\u4e2d", -1, narrow, sizeof narrow, nullptr, nullptr), 0);
    EXPECT_NE(rig.Send(L"BE\u00e9\u4e2d"), 0);
    EXPECT_TRUE(rig.WaitLog(std::string("Issuing:") + narrow + "\r\n")) << rig.Log();
}

TEST_F(Commands, PreFramedArraysAreSentUnchangedAndKindsAreTheCommandKind) {
    const std::vector<uint8_t> frame = FrameOf(kText);  // as the library frames kText (link_test)
    EXPECT_EQ(Reply(SendBytes(Bytes(frame), 0)), ReplyFrame(kPayload));
    EXPECT_EQ(sim().Received(), frame);  // not framed again
    // Kind 0 is ordinary (the byte-array test); others are the command's kind.
    const long noReply = SendBytes(Bytes({0xBE, 0x71}), 1);  // kind 1 awaits nothing
    EXPECT_EQ(rig.Wait(noReply), -1);
    EXPECT_EQ(ROBOT_GetReply(robot(), noReply)->GetCommand(), eNoReply);
    const long seven = SendBytes(Bytes({0xBE, 0x22}), 7);
    EXPECT_EQ(Reply(seven), ReplyFrame({0xBE, 0x22}));
    EXPECT_EQ(static_cast<long>(ROBOT_GetReply(robot(), seven)->GetCommand()), 7);
    const long info = ROBOT_GetToolInfo(robot());  // its text and frame: link_test
    ASSERT_EQ(rig.Wait(info), 10);
    EXPECT_EQ(ROBOT_GetReply(robot(), info)->GetCommand(), eToolInfo);
    // A5 5A 01: pre-framed and addressed, also sent as it is.
    std::vector<uint8_t> addressed = frame;
    addressed[2] = 0x01;
    ROBOT_SetTimeout(robot(), 300);
    sim().ClearReceived();
    const long id = SendBytes(Bytes(addressed), 0);
    EXPECT_TRUE(rig.WaitToolReceived(addressed));
    ASSERT_NE(rig.Wait(id), 0);
    EXPECT_TRUE(ROBOT_GetReply(robot(), id)->IsAddressed());
}

TEST_F(Commands, WriteToPortSendsTheRightNumberOfBytesUnframedUnlessACommandIsAwaitedOrQueued) {
    const std::vector<uint8_t> ten = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
    EXPECT_EQ(Write(Bytes(ten), 3), 1);  // the first 3
    std::vector<uint8_t> expected(ten.begin(), ten.begin() + 3);
    for (long length : {0L, -5L, 11L, 10L}) {  // everything
        EXPECT_EQ(Write(Bytes(ten), length), 1) << length;
        expected.insert(expected.end(), ten.begin(), ten.end());
    }
    EXPECT_EQ(Write(Vector(VT_I2, 1, {0x120, -1, 0x7F}), 0), 1);
    expected.insert(expected.end(), {0x20, 0xFF, 0x7F});
    EXPECT_EQ(Write(Matrix(VT_UI1, 2, 2, {}), 0), 0);
    EXPECT_EQ(Write(Vector(VT_R8, 0, {1, 2}), 0), 0);
    EXPECT_EQ(ROBOT_WriteToPort(robot(), nullptr, 0), 0);
    EXPECT_TRUE(rig.WaitToolReceived(expected));
    EXPECT_EQ(sim().CommandCount(), 0u);
    ASSERT_TRUE(sim().AddFaults("be77:noreply#1"));
    ROBOT_SetTimeout(robot(), 1500);
    const long id = rig.Send(L"BE77");
    ASSERT_TRUE(WaitUntil([&] { return sim().CommandCount() == 1; }, 5000));
    sim().ClearReceived();
    EXPECT_EQ(Write(Bytes({0x10, 0x11}), 0), -1);
    Array held(Bytes({1, 2, 3}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, held.out()), 0);  // not finished: untouched
    EXPECT_EQ(rig.Wait(id), -1);
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, held.out()), -1);  // abandoned: untouched
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(BytesOf(held.get()), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(sim().Received().empty());
    EXPECT_EQ(Write(Bytes({0x10, 0x11}), 0), 1);
    EXPECT_TRUE(rig.WaitToolReceived({0x10, 0x11}));
    ROBOT_StopPolling(robot());  // queued, not sent
    rig.Send(L"BE01");
    EXPECT_EQ(Write(Bytes({0x10}), 0), -1);
    ROBOT_HANDLE bare = ROBOT_Create();  // no port: nothing written
    EXPECT_EQ(ROBOT_WriteToPort(bare, held.out(), 0), 0);
    ROBOT_Destroy(bare);
}

TEST_F(Commands, OnePartIsAByteVectorThatReplacesTheHostsArray) {
    const long id = rig.Send(kText);
    const std::vector<uint8_t> frame = ReplyFrame(kPayload);
    ASSERT_EQ(rig.Wait(id), 12);
    Array reply(Bytes({1, 2, 3}));
    SAFEARRAY* const held = reply.get();
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot(), id, 0, reply.out()), 0);  // 0 ms on TCP: at once, even with the reply in
    EXPECT_EQ(reply.get(), held);
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, reply.out()), static_cast<long>(frame.size()));
    EXPECT_EQ(Shape(reply.get()), "I1[0..11]");
    EXPECT_EQ(BytesOf(reply.get()), frame);
    Array again;  // fetching does not delete
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, again.out()), static_cast<long>(frame.size()));
    EXPECT_TRUE(ROBOT_DeleteReply(robot(), id));
    EXPECT_FALSE(ROBOT_DeleteReply(robot(), id));
    Array gone(Bytes({7, 8}));
    SAFEARRAY* const goneArray = gone.get();
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, gone.out()), 0);
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), 0, gone.out()), 0);
    EXPECT_EQ(gone.get(), goneArray);
}

TEST_F(Commands, APageReadGivesOneMatrixColumnPerPageAndShortPartsArePadded) {
    const long id = ROBOT_ReadFlashPages(robot(), 0x10, 3, 38400, 1, nullptr);
    ASSERT_EQ(rig.Wait(id, 10000), 272);
    Array matrix(Bytes({1}));
    EXPECT_EQ(ROBOT_GetReplyBytes(robot(), id, matrix.out()), 272);
    ASSERT_EQ(Shape(matrix.get()), "UI1[0..271][0..2]");
    for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(Column(matrix.get(), k), vxsim::BuildPageFrame(0x10 + k, k, false)) << int(k);
    // A tool that answers a whole page and a short one.
    ScriptedTool tool;
    const std::vector<uint8_t> whole = vxsim::BuildPageFrame(5, 0, false);
    const std::vector<uint8_t> shortFrame = ReplyFrame({0xBE, 0x4D, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x11, 0x22});
    std::vector<uint8_t> answer = whole;
    answer.insert(answer.end(), shortFrame.begin(), shortFrame.end());
    tool.Answer(answer);
    Rig scripted(tool.Port());
    ROBOT_HANDLE r = scripted.robot();
    const long two = ROBOT_ReadFlashPages(r, 5, 2, 38400, 1, nullptr);
    CRobotCommand* record = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (record = ROBOT_GetReply(r, two)) && record->IsReplyComplete(); }, 8000));
    Array padded;
    EXPECT_EQ(ROBOT_GetReplyBytes(r, two, padded.out()), 272);
    ASSERT_EQ(Shape(padded.get()), "UI1[0..271][0..1]");
    EXPECT_EQ(Column(padded.get(), 0), whole);
    std::vector<uint8_t> shortPadded(shortFrame);
    shortPadded.resize(272);
    EXPECT_EQ(Column(padded.get(), 1), shortPadded);
    // ROBOT_WaitReplyBytes gives the part under the walk only (none before a walk).
    Array single(Bytes({9}));
    EXPECT_EQ(ROBOT_WaitReplyBytes(r, two, 1000, single.out()), 0);
    EXPECT_EQ(Shape(single.get()), "I1[0..-1]");
    ASSERT_TRUE(record->StartReplyWalk());
    ASSERT_TRUE(record->NextReply());
    EXPECT_EQ(ROBOT_WaitReplyBytes(r, two, 1000, single.out()), static_cast<long>(shortFrame.size()));
    EXPECT_EQ(BytesOf(single.get()), shortFrame);
}

// (That it pumps the socket's messages, which only this thread dispatches, every RoundTrip shows.)
TEST_F(Commands, WaitReplyBytesReturnsAtThePagesOfAReadInProgressAndEndsOnTimeOrQuit) {
    ASSERT_TRUE(sim().AddFaults("be4d:droppage=2#1 be77:noreply"));
    ROBOT_SetTimeout(robot(), 3000);
    const long id = ROBOT_ReadFlashPages(robot(), 0x20, 3, 38400, 1, nullptr);
    Array pages(Bytes({4}));
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot(), id, 20000, pages.out()), 0);
    CRobotCommand* record = ROBOT_GetReply(robot(), id);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(record->IsAbandoned());  // back before the time limit
    EXPECT_GE(record->GetReplyCount(), 1);
    EXPECT_EQ(ROBOT_ReadFlashPages(robot(), 0, 1, 38400, 1, nullptr), 0);  // one page read at a time
    Array held(Bytes({4, 5}));
    SAFEARRAY* const heldArray = held.get();
    ROBOT_SetTimeout(robot(), 1000);
    const long lost = rig.Send(L"BE77");  // after the read, abandoned
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot(), lost, 200, held.out()), 0);
    EXPECT_EQ(rig.Wait(lost, 15000), -1);
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot(), lost, 1000, held.out()), -1);
    EXPECT_EQ(held.get(), heldArray);
    ROBOT_SetTimeout(robot(), 60000);
    const long forever = rig.Send(L"BE77");
    PostQuitMessage(0);
    EXPECT_EQ(ROBOT_WaitReplyBytes(robot(), forever, 60000, held.out()), 0);  // ended by the quit message
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // posted again
}
