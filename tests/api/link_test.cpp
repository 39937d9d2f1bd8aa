// The link through each real port, the tool simulator at the far end: the
// wire, how replies are filed, faults on the line, what one kind does alone.
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <atomic>
#include <functional>
#include <thread>

#include "sim/reply_frames.h"
#include "support/vornex_test.h"

using namespace vxt;

class Link : public ::testing::TestWithParam<PortKind> {
protected:
    void SetUp() override { ASSERT_TRUE(rig->Attached()) << "no " << Name(GetParam()) << " link to the simulator"; }
    std::unique_ptr<Rig> rig{new Rig(GetParam())};
};
INSTANTIATE_TEST_SUITE_P(EveryPort, Link, ::testing::ValuesIn(kEveryPort),
                         [](const ::testing::TestParamInfo<PortKind>& info) { return Name(info.param); });

// The frames themselves are the wire tests' (native); here they reach each port whole.
TEST_P(Link, FramesGoOnTheWireByteForByte) {
    std::vector<uint8_t> info = {0x00, 0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09, 0x41, 0x56, 0xFA, 0xAF};
    info.insert(info.begin(), 95, 0xA5);  // tool info: after its preamble, 95 x A5 then 00
    const std::wstring longText(1100, L'5');  // 550 bytes: the length byte wraps
    int com = 0, bridge = 0;
    std::string line;  // a COM port opens at 38400 8N1
    if (GetParam() == PortKind::Com) { EXPECT_TRUE(ComLink(com, bridge, &line) && line == "38400 8N1") << line; }
    rig->ClearToolReceived();
    Array raw(Bytes({0x11, 0x22, 0x33, 0x44, 0x55}));  // and raw bytes unframed
    EXPECT_EQ(ROBOT_WriteToPort(rig->robot(), raw.out(), 0), 1);
    EXPECT_TRUE(rig->WaitToolReceived({0x11, 0x22, 0x33, 0x44, 0x55}));
    for (const std::wstring& text : {std::wstring(L"BE09"), std::wstring(L"0a0b0"), longText}) {
        rig->ClearToolReceived();
        const long id = rig->Send(text);
        if (text.size() < 10) { EXPECT_GT(rig->Wait(id), 0); }  // the long one is not answered
        EXPECT_TRUE(rig->WaitToolReceived(text == L"BE09" ? info : FrameOf(text))) << rig->ToolReceived().size() << " bytes";
    }
}

TEST_P(Link, RepliesAreFiledUnderTheirCommandsInIssueOrderAndEverySumCheckedPageOnce) {
    std::vector<uint8_t> info;
    ASSERT_EQ(rig->Wait(ROBOT_GetToolInfo(rig->robot()), 5000, &info), 10);
    EXPECT_EQ(std::string(info.begin(), info.end()), "9.1.V1.0.0");
    rig->ClearToolReceived();
    long ids[5];
    std::vector<uint8_t> wire;
    for (int i = 0; i < 5; ++i) {
        const std::wstring text = L"0a0" + std::to_wstring(i + 1);
        ids[i] = rig->Send(text);
        const std::vector<uint8_t> frame = FrameOf(text);
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> reply;
        ASSERT_EQ(rig->Wait(ids[i], 5000, &reply), 10);
        EXPECT_EQ(reply, ReplyFrame({0x0a, static_cast<uint8_t>(i + 1)}));  // no reply under a wrong ID
    }
    EXPECT_EQ(rig->ToolReceived(), wire);  // one at a time: each only after the last reply
    const long pages = ROBOT_ReadFlashPages(rig->robot(), 0x200, 3, 38400, 0, nullptr);  // flag 0: sum check
    ASSERT_EQ(rig->Wait(pages, 8000), 272);
    CRobotCommand* record = ROBOT_GetReply(rig->robot(), pages);
    ASSERT_EQ(record->GetReplyCount(), 3);
    ASSERT_TRUE(record->StartReplyWalk());
    uint8_t k = 0;  // sum-checked frames (flag bit 0x80), each page once, in order
    do { EXPECT_EQ(RecordBytes(record), vxsim::BuildPageFrame(0x200 + k, k, true)) << int(k); }
    while (++k < 4 && record->NextReply());
    EXPECT_EQ(k, 3);
}

TEST_P(Link, SplitGarbledBadAndLateRepliesAndTimeLimitZero) {
    ASSERT_TRUE(rig->AddFaults("0b01:split=3/15 0b02:garbage=40 0b03:split=1/2 0c01:badcrc 0d01:noreply 0d02:delay=1500"));
    for (const wchar_t* text : {L"0b01", L"0b02", L"0b03"}) EXPECT_EQ(rig->Wait(rig->Send(text)), 10);
    ROBOT_SetTimeout(rig->robot(), 400);
    EXPECT_EQ(rig->Wait(rig->Send(L"0c01")), -1);
    EXPECT_TRUE(rig->WaitLog("*******CRC error\r\n") && rig->WaitLog("****Abandoning \"0c01\"\r\n")) << rig->Log();
    ROBOT_SetTimeout(rig->robot(), 0);  // abandons what is not answered at once
    EXPECT_EQ(rig->Wait(rig->Send(L"0d01"), 3000), -1);
    EXPECT_EQ(rig->Wait(rig->Send(L"0d02"), 3000), -1);
    ROBOT_SetTimeout(rig->robot(), 5000);
    std::vector<uint8_t> reply;
    EXPECT_EQ(rig->Wait(rig->Send(L"0d03"), 8000, &reply), 10);  // the link carries on
    EXPECT_EQ(reply, ReplyFrame({0x0d, 0x03}));  // the late reply of 0d02 was dropped
}

class LinkFtdi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.Attached()); }
    Rig rig{PortKind::Ftdi};
};

// A command's write recovers and is sent again; a raw write resets and purges.
TEST_F(LinkFtdi, InputOutputErrorRecoversOrResetsAndPurges) {
    ASSERT_EQ(ftdi::Control("fault 0e01:ioerror#1"), 0);
    EXPECT_EQ(rig.Wait(rig.Send(L"0e01"), 8000), 10);
    EXPECT_TRUE(rig.WaitLog("****ftStatus=4\r\n") && rig.WaitLog("****1 Changing baud rate to38400\r\n")) << rig.Log();
    EXPECT_EQ(ftdi::Query("devicerate"), 38400);
    EXPECT_GE(ftdi::Query("ftreloads"), 1);
    EXPECT_EQ(ftdi::Query("writetimeout"), 5000);
    const long long resets = ftdi::Query("resets"), purges = ftdi::Query("purges");
    ASSERT_EQ(ftdi::Control("fault *:ioerror#1"), 0);
    Array raw(Bytes({0x11, 0x22}));
    EXPECT_EQ(ROBOT_WriteToPort(rig.robot(), raw.out(), 0), 0);
    EXPECT_TRUE(rig.WaitLog("****WriteToPort ftStatus=4\r\n")) << rig.Log();
    EXPECT_EQ(ftdi::Query("resets"), resets + 1);
    EXPECT_GE(ftdi::Query("purges"), purges + 1);
}

TEST_F(LinkFtdi, OtherWriteFailuresAreLoggedAndLeftToTimeOut) {
    ROBOT_SetTimeout(rig.robot(), 300);
    // Short: a transmit queue that never drains takes no more once full.
    ASSERT_EQ(ftdi::Control("txstuck on"), 0);
    Array fill(Bytes(std::vector<uint8_t>(65536, 0x55)));
    EXPECT_EQ(ROBOT_WriteToPort(rig.robot(), fill.out(), 0), 1);
    Array more(Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(ROBOT_WriteToPort(rig.robot(), more.out(), 0), 0);
    EXPECT_TRUE(rig.WaitLog("****WriteToPort Short write 0 vs 5\r\n")) << rig.Log();
    EXPECT_EQ(rig.Wait(rig.Send(L"0f01"), 3000), -1);
    EXPECT_TRUE(rig.WaitLog("****Short write 0 vs 10\r\n")) << rig.Log();
    // A status other than 4 (the device closed under the port: invalid handle).
    ASSERT_EQ(ftdi::Control("txstuck off"), 0);
    ASSERT_TRUE(CloseFTDIDevice(VornexFtdiPort(rig.port())));
    EXPECT_EQ(rig.Wait(rig.Send(L"0f02"), 3000), -1);
    EXPECT_TRUE(rig.WaitLog("****ftStatus=1\r\n")) << rig.Log();
    EXPECT_EQ(rig.Log().find("ftStatus=4"), std::string::npos);
    EXPECT_EQ(rig.Log().find("****1 Changing baud rate"), std::string::npos);  // no recovery
}

TEST_F(LinkFtdi, DeviceThatStopsDrainingDoesNotHangTheWorker) {
    ROBOT_SetTimeout(rig.robot(), 500);
    ASSERT_EQ(ftdi::Control("txstuck on"), 0);
    // A rate-change frame is followed by a wait for the transmit queue.
    const long id = ROBOT_ReadFlashPages(rig.robot(), 0, 2, 230400, 1, nullptr);
    ASSERT_NE(id, 0);
    EXPECT_EQ(rig.Wait(id, 20000), -1);
    std::atomic<bool> stopped{false};
    std::thread stop([&] { ROBOT_StopPolling(rig.robot()); stopped = true; });
    const bool ended = WaitUntil([&] { return stopped.load(); }, 20000);
    EXPECT_TRUE(ended) << "the worker did not stop";
    ended ? stop.join() : stop.detach();
    ftdi::Control("txstuck off");
}

// Page reads return to 38400 after their last page; an answered rate command
// (kind 3: 38400, kind 4: 76800) leaves its rate, an unanswered one the other.
TEST_F(LinkFtdi, RateChangesAndTheirFallbacks) {
    ROBOT_HANDLE r = rig.robot();
    const std::vector<uint8_t> to38400 = {0xBE, 0x2C, 0x01, 0x00}, to76800 = {0xBE, 0x2C, 0x02, 0x00};
    auto rateCommand = [r](std::vector<uint8_t> bytes, long kind) { Array a(Bytes(bytes)); return ROBOT_SendCommandBytes(r, a.out(), kind); };
    struct Case { std::function<long()> send; const char* fault; long size; long long rate; const char* line; };
    const Case cases[] = {
        {[r] { return ROBOT_ReadFlashPages(r, 0, 2, 153600, 1, nullptr); }, "", 272, 38400, "**** Changing baud rate to38400"},
        {[&] { return rateCommand(to38400, 3); }, "be2c:noreply#1", -1, 76800, "****6 Changing baud rate to76800"},
        {[&] { return rateCommand(to76800, 4); }, "be2c:noreply#1", -1, 38400, "****5 Changing baud rate to38400"},
        {[r] { return ROBOT_ReadFlashPages(r, 0, 1, 230400, 1, nullptr); }, "be4d:noreply#1", -1, 38400, "****5 Changing baud rate to38400"},
        {[&] { return rateCommand(to76800, 4); }, "", 12, 76800, "****2 Changing baud rate to76800"},
        {[&] { return rateCommand(to38400, 3); }, "", 12, 38400, "****2 Changing baud rate to38400"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ftdi::Control(std::string("nofaults")), 0);
        if (*c.fault) { ASSERT_EQ(ftdi::Control(std::string("fault ") + c.fault), 0); }
        ROBOT_SetTimeout(r, c.size < 0 ? 300 : 5000);  // short only where no answer comes
        const size_t logged = rig.Log().size();  // the line must come after this
        EXPECT_EQ(rig.Wait(c.send(), 8000), c.size) << c.line;  // a fallback is logged, then made: both waited for
        EXPECT_TRUE(WaitUntil([&] { return rig.Log().find(std::string(c.line) + "\r\n", logged) != std::string::npos &&
                                           ftdi::Query("devicerate") == c.rate; }, 3000))
            << c.line << " at " << ftdi::Query("devicerate") << "\n" << rig.Log();
    }
}

TEST(LinkScripted, BadSequencesAreFlushedZeroCrcIsTakenUncheckedAndOverflowDropsTheHeldBytes) {
    ScriptedTool tool;
    Rig s(PortKind::Tcp, {1500}, tool.Port());
    ASSERT_TRUE(s.Attached());
    std::vector<uint8_t> bad = ReplyFrame({0xaa, 0xbb});
    bad[8] = 0x00;  // end marker one byte off
    bad.push_back(0xFA);
    tool.Answer(bad);
    tool.Answer(ReplyFrame({0x03, 0x04}));
    std::vector<uint8_t> zeroCrc = ReplyFrame({0x05, 0x06});
    zeroCrc[6] = zeroCrc[7] = 0;
    tool.Answer(zeroCrc);
    EXPECT_EQ(s.Wait(s.Send(L"0102")), -1);
    EXPECT_NE(s.Log().find("*******Flushing bad sequence\r\na55a0003aabb"), std::string::npos) << s.Log();
    std::vector<uint8_t> reply;
    EXPECT_EQ(s.Wait(s.Send(L"0304"), 5000, &reply), 10);  // resynchronised
    EXPECT_EQ(reply, ReplyFrame({0x03, 0x04}));
    EXPECT_EQ(s.Wait(s.Send(L"0506"), 5000, &reply), 10);
    EXPECT_EQ(reply, zeroCrc);
    // Letters are held while a tool-information reply is awaited; with the bytes after them they pass the
    // 30,720-byte buffer, and the held ones go. The TCP port hands bytes on 1024 at most at a time, so the
    // read that overflows holds no letter. A slow machine gets the 32 kB in time.
    std::vector<uint8_t> answer(29000, 'A');
    answer.insert(answer.end(), 3000, 0x00);
    const std::string info = "9.2.V1.0.0";
    answer.insert(answer.end(), info.begin(), info.end());
    tool.Answer(answer), ROBOT_SetTimeout(s.robot(), 20000);
    EXPECT_EQ(s.Wait(ROBOT_GetToolInfo(s.robot()), 30000, &reply), 10);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), info);
}

// ROBOT_WaitReplyBytes off TCP waits for the whole reply, not its first pages, and neither dispatches nor ends
// on the host's messages (on TCP: commands_test).
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

// A host name is resolved, and again when the tool drops the link (one that does not resolve: lifecycle_test).
TEST(TcpHostNames, ADroppedLinkIsMadeAgainByNameAndTheLogHasNoLineForIt) {
    Rig::Options options;
    options.host = L"localhost";
    Rig rig(PortKind::Tcp, options);
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(rig.RoundTrip(L"0f01").size(), 10u);
    rig.Sim()->CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return !rig.Sim()->IsConnected(); }, 3000));
    // Time for the close to reach the port: the next command then waits for the link to connect again.
    WaitUntil([] { return false; }, 300);
    size_t size = 0;  // one written as the link drops is lost with it
    for (int i = 0; i < 3 && size == 0; ++i) size = rig.RoundTrip(L"0f02", 8000).size();
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(rig.Sim()->Connections(), 2u);
    EXPECT_TRUE(rig.WaitLog("Issuing:0f02")) << rig.Log();
    EXPECT_EQ(rig.Log().find("Reconnecting"), std::string::npos) << rig.Log();
}
