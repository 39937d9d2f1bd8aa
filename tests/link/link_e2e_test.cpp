// Commands and replies through each real port, with the tool simulator at
// the far end: the same behaviour on TCP, on a COM port and on an FTDI device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "engine/tick_source.h"
#include "link_rig.h"
#include "protocol/crc16.h"
#include "sim/page_pattern.h"

namespace {

class Link : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        rig.reset(new LinkRig(GetParam()));
        ASSERT_TRUE(rig->Attached()) << "no " << LinkKindName(GetParam()) << " link to the simulator";
    }
    void TearDown() override { rig.reset(); }

    // Issues text and waits for it to finish; returns the record.
    CRobotCommand* RoundTrip(const wchar_t* text, eCommand kind = eStandard, bool addressed = false) {
        const int id = rig->Robot().Issue(CString(text), kind, addressed, false);
        return rig->WaitFinished(id, 8000);
    }

    std::unique_ptr<LinkRig> rig;
};

std::string Payload(const CRobotCommand* record) {
    if (!record || record->GetReplySize() < 8) return std::string();
    return std::string(record->GetReplyData() + 4, static_cast<size_t>(record->GetReplySize() - 8));
}

} // namespace

TEST_P(Link, ExampleFramesGoOnTheWireByteForByte) {
    rig->Robot().SetTimeout(300);
    struct Case { const wchar_t* text; bool addressed; bool answered; };
    const Case cases[] = {{L"BE09", false, true}, {L"BE09", true, true}, {L"be71", false, false},
                          {L"be2b0100", false, false}};
    for (const Case& c : cases) {
        rig->ClearToolReceived();
        CRobotCommand* record = RoundTrip(c.text, eStandard, c.addressed);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->IsReplyComplete(), c.answered) << "command " << CString(c.text).Str().size();
        std::vector<uint8_t> expected = FrameOf(c.text, c.addressed);
        const bool toolInfo = expected[4] == 0xBE && expected[5] == 0x09;
        if (toolInfo) {
            // Whatever its kind, BE09 goes after the 96-byte preamble.
            std::vector<uint8_t> withPreamble = ToolInfoPreambleBytes();
            withPreamble.insert(withPreamble.end(), expected.begin(), expected.end());
            expected = withPreamble;
        }
        EXPECT_TRUE(rig->WaitFor([&] { return rig->ToolReceived() == expected; }, 3000))
            << LinkKindName(GetParam()) << ": the tool received " << rig->ToolReceived().size() << " bytes";
    }
}

TEST_P(Link, OddAndLongTextsAreWrittenAsFramed) {
    rig->Robot().SetTimeout(300);
    const std::wstring longText(1100, L'5');
    for (const std::wstring& text : {std::wstring(L"0a0b0"), longText}) {
        rig->ClearToolReceived();
        const std::vector<uint8_t> expected = FrameOf(text.c_str());
        RoundTrip(text.c_str());
        EXPECT_TRUE(rig->WaitFor([&] { return rig->ToolReceived() == expected; }, 3000))
            << text.size() << " digits: the tool received " << rig->ToolReceived().size() << " bytes";
    }
}

TEST_P(Link, ToolInfoReplyIsFiledUnderItsId) {
    CRobotCommand* record = RoundTrip(L"BE09", eToolInfo);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplySize(), 10);
    const char* reply = record->GetReplyData();
    EXPECT_EQ(reply[0], '9');
    EXPECT_EQ(reply[4], 'V');
    EXPECT_EQ(reply[6], '.');
}

TEST_P(Link, CommandsGoOneAtATimeInIssueOrder) {
    const wchar_t* texts[] = {L"0a01", L"0a02", L"0a03", L"0a04", L"0a05"};
    int ids[5];
    for (int i = 0; i < 5; ++i) ids[i] = rig->Robot().Issue(CString(texts[i]), eStandard, false, false);
    for (int i = 0; i < 5; ++i) {
        CRobotCommand* record = rig->WaitFinished(ids[i], 8000);
        ASSERT_NE(record, nullptr);
        ASSERT_TRUE(record->IsReplyComplete());
        // The echo carries the command's own payload: no reply under the wrong ID.
        const unsigned char want[2] = {0x0a, static_cast<unsigned char>(i + 1)};
        EXPECT_EQ(Payload(record), std::string(reinterpret_cast<const char*>(want), 2));
    }
    std::vector<uint8_t> expected;
    for (const wchar_t* text : texts) {
        const std::vector<uint8_t> frame = FrameOf(text);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(rig->ToolReceived(), expected);
}

TEST_P(Link, SplitAndGarbledRepliesStillArrive) {
    ASSERT_TRUE(rig->AddFaults("0b01:split=3/15 0b02:garbage=40 0b03:split=1/2"));
    for (const wchar_t* text : {L"0b01", L"0b02", L"0b03"}) {
        CRobotCommand* record = RoundTrip(text);
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(record->IsReplyComplete()) << CString(text).Str().size();
        EXPECT_EQ(record->GetReplySize(), 10);
    }
}

TEST_P(Link, CrcErrorIsLoggedAndTheCommandAbandoned) {
    rig->Robot().SetTimeout(400);
    ASSERT_TRUE(rig->AddFaults("0c01:badcrc"));
    CRobotCommand* record = RoundTrip(L"0c01");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    const std::string log = rig->Log();
    EXPECT_NE(log.find("*******CRC error\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("****Abandoning \"0c01\"\r\n"), std::string::npos) << log;
    // The link carries on.
    CRobotCommand* next = RoundTrip(L"0c02");
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(next->IsReplyComplete());
}

TEST_P(Link, PageReadWithSumCheckCollectsEveryPage) {
    // flag false asks for the sum check; the simulator then sends sums.
    const int id = rig->Robot().ReadFlashPages(0x200, 3, 38400, false, nullptr);
    ASSERT_NE(id, 0);
    CRobotCommand* record = rig->WaitFinished(id, 8000);
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplyCount(), 3);
    ASSERT_TRUE(record->StartReplyWalk());
    uint32_t page = 0x200;
    do {
        ASSERT_EQ(record->GetReplySize(), 272);
        const unsigned char* frame = reinterpret_cast<const unsigned char*>(record->GetReplyData());
        EXPECT_EQ(frame[11] & 0x80, 0x80);
        unsigned sum = 0;
        for (int i = 0; i < 268; ++i) sum += frame[i];
        EXPECT_EQ((frame[268] << 8) | frame[269], static_cast<int>(sum & 0xFFFF));
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(frame[12 + i], vxsim::PagePatternByte(page, i));
        ++page;
    } while (record->NextReply());
}

TEST_P(Link, WriteToPortSendsRawBytes) {
    rig->ClearToolReceived();
    char raw[] = {0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_TRUE(rig->Robot().WriteToPort(raw, 5));
    const std::vector<uint8_t> expected(raw, raw + 5);
    EXPECT_TRUE(rig->WaitFor([&] { return rig->ToolReceived() == expected; }, 3000));
}

INSTANTIATE_TEST_SUITE_P(EveryPort, Link, ::testing::Values(LinkKind::Tcp, LinkKind::Com, LinkKind::Ftdi),
                         [](const ::testing::TestParamInfo<LinkKind>& info) { return LinkKindName(info.param); });

// Time through the tick source: the real clock plus an offset the test adds.
namespace {
std::atomic<uint32_t> g_offset{0};
uint32_t ShiftedTicks() { return GetTickCount() + g_offset.load(); }
uint32_t FrozenTicks() { return 0x70000000u + g_offset.load(); }

class LinkClock : public Link {
protected:
    void SetUp() override {
        g_offset = 0;
        Link::SetUp();
    }
    void TearDown() override {
        Link::TearDown();
        SetEngineTickSource(nullptr);
    }
};
} // namespace

TEST_P(LinkClock, KeepAliveAfterTwentyFiveIdleSeconds) {
    rig->Robot().StopPolling();
    SetEngineTickSource(&ShiftedTicks);
    rig->Robot().SetKeepAlive(true);
    rig->Robot().StartPolling();
    rig->ClearToolReceived();
    Sleep(300);
    EXPECT_TRUE(rig->ToolReceived().empty());
    g_offset += 25000;
    const std::vector<uint8_t> keepAlive = FrameOf(L"be71");
    EXPECT_TRUE(rig->WaitFor([&] { return rig->ToolReceived() == keepAlive; }, 3000));
    EXPECT_TRUE(rig->WaitFor([&] { return rig->Log().find("****Abandoning \"be71\"") != std::string::npos; }, 3000));
    EXPECT_NE(rig->Log().find("Issuing Local:be71\r\n"), std::string::npos);
}

TEST_P(LinkClock, DefaultTimeLimitCountsOnlyEngineTime) {
    rig->Robot().StopPolling();
    SetEngineTickSource(&FrozenTicks);
    rig->Robot().SetTimeout(2000);
    ASSERT_TRUE(rig->AddFaults("0d01:noreply"));
    rig->Robot().StartPolling();
    const int id = rig->Robot().Issue(CString(L"0d01"), eStandard, false, false);
    Sleep(500);  // real time passes, engine time does not
    g_offset += 1999;
    Sleep(300);
    EXPECT_EQ(rig->Robot().FindReply(id), nullptr);
    g_offset += 1;
    CRobotCommand* record = rig->WaitFinished(id, 3000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
}

INSTANTIATE_TEST_SUITE_P(EveryPort, LinkClock, ::testing::Values(LinkKind::Tcp, LinkKind::Com, LinkKind::Ftdi),
                         [](const ::testing::TestParamInfo<LinkKind>& info) { return LinkKindName(info.param); });

// FTDI only: an input/output error on a frame write.
TEST(LinkFtdi, InputOutputErrorRecoversAndSendsTheCommandAgain) {
    LinkRig rig(LinkKind::Ftdi);
    ASSERT_TRUE(rig.Attached());
    ASSERT_EQ(rig.SimControl("fault 0e01:ioerror#1"), 0);
    const int id = rig.Robot().Issue(CString(L"0e01"), eStandard, false, false);
    CRobotCommand* record = rig.WaitFinished(id, 8000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsReplyComplete());
    const std::string log = rig.Log();
    EXPECT_NE(log.find("****ftStatus=4\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("****1 Changing baud rate to38400\r\n"), std::string::npos) << log;
    EXPECT_EQ(rig.SimQuery("devicerate"), 38400);
    EXPECT_GE(rig.SimQuery("ftreloads"), 1);
}

// TCP only: a connection the tool drops is made again, and what was queued
// meanwhile goes out once it is back.
TEST(LinkTcp, DroppedConnectionIsMadeAgain) {
    LinkRig rig(LinkKind::Tcp);
    ASSERT_TRUE(rig.Attached());
    const int before = rig.Robot().Issue(CString(L"0f01"), eStandard, false, false);
    ASSERT_NE(rig.WaitFinished(before, 5000), nullptr);
    rig.Sim()->CloseConnection();
    ASSERT_TRUE(rig.WaitFor([&] { return !rig.Sim()->IsConnected(); }, 3000));
    // A command written before the close is seen goes down with the old
    // connection and is abandoned; the one after it uses the new connection.
    const int racing = rig.Robot().Issue(CString(L"0f02"), eStandard, false, false);
    ASSERT_NE(rig.WaitFinished(racing, 8000), nullptr);
    const int after = rig.Robot().Issue(CString(L"0f03"), eStandard, false, false);
    CRobotCommand* record = rig.WaitFinished(after, 8000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsReplyComplete());
    EXPECT_GE(rig.Sim()->Connections(), 2u);
}
