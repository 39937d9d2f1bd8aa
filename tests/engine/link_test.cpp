// The link driven through a fake port: what goes on the wire, how replies
// are scanned and filed, time-outs, keep-alive, rate changes and recovery.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "protocol/crc16.h"
#include "protocol/hex_text.h"
#include "support/test_files.h"
#include "test_robot.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Hex(const char* text) {
    Bytes out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        if (text[i] == ' ') { --i; continue; }
        out.push_back(static_cast<unsigned char>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return out;
}

Bytes Frame(const wchar_t* payload) { return EncodeCommand(payload, wcslen(payload), false, false); }

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        logPath = TempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log");
        robot.SetLog(new std::ofstream(logPath));
        fake = robot.AttachFake();
    }
    void TearDown() override {
        robot.CloseLog();
        DeleteFileA(logPath.c_str());
    }
    std::string Log() {
        robot.CloseLog();
        std::string text = ReadWholeFile(logPath);
        robot.SetLog(new std::ofstream(logPath, std::ios::app));
        return text;
    }
    // Issues text and runs the cycle that sends it.
    int Send(const wchar_t* text, eCommand kind = eStandard) {
        const int id = robot.Issue(CString(text), kind, false, false);
        robot.Transmit(0);
        return id;
    }

    TestRobot robot;
    FakeTransport* fake = nullptr;
    std::string logPath;
};

} // namespace

TEST_F(Link, FramesOnTheWireByteForByte) {
    struct Case { const wchar_t* text; bool addressed; const char* frame; };
    const Case cases[] = {
        {L"BE09", false, "a55a0003be094156faaf"},
        {L"BE09", true, "a55a0103be097267faaf"},
        {L"be71", false, "a55a0003be71412efaaf"},
        {L"be2b0100", false, "a55a0004be2b0100847efaaf"},
    };
    for (const Case& c : cases) {
        fake->writes.clear();
        const int id = robot.Issue(CString(c.text), eStandard, c.addressed, false);
        robot.Transmit(0);
        ASSERT_EQ(fake->writes.size(), 1u);
        EXPECT_EQ(fake->writes[0].bytes, Hex(c.frame));
        robot.CancelPending();
        robot.Transmit(0);  // abandons it
        ASSERT_TRUE(robot.FindReply(id)->IsAbandoned());
    }
}

TEST_F(Link, OddAndLongTextsAreFramedFromTheirLength) {
    Send(L"abc");  // 3 digits: one payload byte, the odd digit dropped
    ASSERT_EQ(fake->writes.size(), 1u);
    const Bytes& odd = fake->writes[0].bytes;
    ASSERT_EQ(odd.size(), 9u);
    EXPECT_EQ(odd[3], 2);  // 3/4 + 2
    EXPECT_EQ(odd[4], 0xab);
    EXPECT_EQ(CCrc16::Of(odd.data(), 5), (odd[5] << 8) | odd[6]);
    EXPECT_EQ(odd[7], 0xfa);
    robot.CancelPending();
    robot.Transmit(0);

    std::wstring longText(1100, L'7');  // 550 bytes: the length byte wraps
    Send(longText.c_str());
    const Bytes& big = fake->writes[1].bytes;
    ASSERT_EQ(big.size(), 558u);
    EXPECT_EQ(big[3], (1100 / 4 + 2) & 0xFF);
    EXPECT_EQ(big[2], 0);
}

TEST_F(Link, ToolInfoGoesWithThePreambleAndItsReplyIsFiled) {
    const int id = Send(L"BE09", eStandard);  // kind 2, still sent as tool info
    ASSERT_EQ(fake->writes.size(), 1u);
    EXPECT_TRUE(fake->writes[0].toolInfo);
    EXPECT_EQ(robot.Current(), eToolInfo);
    fake->Deliver(Hex("a5a5a5"));
    const char reply[] = "9.12V3.45x";
    fake->Deliver(Bytes(reply, reply + 10));
    robot.ReceiveAll();
    CRobotCommand* record = robot.FindReply(id);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsReplyComplete());
    ASSERT_EQ(record->GetReplySize(), 10);
    EXPECT_EQ(std::memcmp(record->GetReplyData(), reply, 10), 0);

    const std::vector<unsigned char> preamble = ToolInfoPreamble();
    ASSERT_EQ(preamble.size(), 96u);
    EXPECT_EQ(preamble[94], 0xA5);
    EXPECT_EQ(preamble[95], 0x00);
}

TEST_F(Link, ToolInfoBytesWithoutLettersOrDigitsAreDropped) {
    const int id = Send(L"BE09");
    fake->Deliver(Bytes(12, 0xA5));
    robot.ReceiveAll();
    EXPECT_EQ(robot.RxCount(), 0);
    EXPECT_EQ(robot.FindReply(id), nullptr);
}

TEST_F(Link, ReplySplitOverReadsIsTakenWhenWhole) {
    const int id = Send(L"0102");
    const Bytes frame = Frame(L"0102");
    fake->Deliver(Bytes(frame.begin(), frame.begin() + 3));
    EXPECT_FALSE(robot.Receive());
    EXPECT_EQ(robot.FindReply(id), nullptr);
    fake->Deliver(Bytes(frame.begin() + 3, frame.end()));
    EXPECT_FALSE(robot.Receive());  // taken; nothing remains
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_EQ(robot.FindReply(id)->GetReplySize(), 10);
}

TEST_F(Link, TwoFramesInOneReadTakeTwoCalls) {
    const int id = Send(L"0102");
    Bytes both = Frame(L"0102");
    const Bytes second = Frame(L"0304");
    both.insert(both.end(), second.begin(), second.end());
    fake->Deliver(both);
    EXPECT_TRUE(robot.Receive());
    EXPECT_FALSE(robot.Receive());
    EXPECT_EQ(robot.RxCount(), 0);
    // The second came when nothing was awaited: dropped, the first stays.
    EXPECT_EQ(robot.FindReply(id)->GetReplyCount(), 1);
}

TEST_F(Link, GarbageIsDroppedSilently) {
    const int id = Send(L"0102");
    fake->Deliver(Hex("0011a5223344"));
    robot.ReceiveAll();
    EXPECT_EQ(robot.RxCount(), 0);  // no marker at all: emptied
    fake->Deliver(Hex("99887766"));
    fake->Deliver(Frame(L"0102"));
    robot.ReceiveAll();
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_EQ(Log(), "Issuing:0102\r\n");
}

TEST_F(Link, WrongEndMarkerIsFlushedAndTheNextFrameStillAccepted) {
    const int id = Send(L"0102");
    Bytes bad = Frame(L"aabb");
    bad[8] = 0x00;  // end marker one byte off
    bad.push_back(0xFA);
    fake->Deliver(bad);
    fake->Deliver(Frame(L"0102"));
    robot.ReceiveAll();
    EXPECT_EQ(robot.FindReply(id), nullptr);
    fake->Deliver(Hex("00"));  // more data: the poll cycle scans again
    robot.ReceiveAll();
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsReplyComplete());
    // The dump runs up to the next start marker: all of the bad frame.
    EXPECT_EQ(Log(), "Issuing:0102\r\n*******Flushing bad sequence\r\n" + BytesToHexNarrow(bad.data(), bad.size()) + "\r\n");
}

TEST_F(Link, CrcErrorIsLoggedAndTheCommandLaterAbandoned) {
    robot.SetTimeout(200);
    const int id = Send(L"0102");
    Bytes frame = Frame(L"0102");
    frame[6] ^= 0x01;
    fake->Deliver(frame);
    robot.ReceiveAll();
    EXPECT_EQ(robot.FindReply(id), nullptr);
    robot.Transmit(200);
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsAbandoned());
    EXPECT_EQ(Log(), "Issuing:0102\r\n*******CRC error\r\n****Abandoning \"0102\"\r\n");
    EXPECT_NE(std::find(fake->events.begin(), fake->events.end(), "discard"), fake->events.end());
}

TEST_F(Link, ZeroCrcIsAcceptedUnchecked) {
    const int id = Send(L"0102");
    Bytes frame = Frame(L"0102");
    frame[6] = 0;
    frame[7] = 0;
    fake->Deliver(frame);
    robot.ReceiveAll();
    ASSERT_NE(robot.FindReply(id), nullptr);
    EXPECT_TRUE(robot.FindReply(id)->IsReplyComplete());
}

TEST_F(Link, SumCheckOnlyForPageReadsThatAskForIt) {
    auto withSum = [](Bytes frame) {
        const size_t n = frame.size() - 4;
        unsigned sum = 0;
        for (size_t i = 0; i < n; ++i) sum += frame[i];
        frame[n] = static_cast<unsigned char>((sum >> 8) & 0xFF);
        frame[n + 1] = static_cast<unsigned char>(sum & 0xFF);
        return frame;
    };
    robot.ExpectPages(1);
    const int page = Send(L"be4d0000000001", ePageRead);
    fake->Deliver(withSum(Frame(L"be4d000000000080")));  // byte 11 bit 7 set
    robot.ReceiveAll();
    ASSERT_NE(robot.FindReply(page), nullptr);
    EXPECT_TRUE(robot.FindReply(page)->IsReplyComplete());

    robot.ExpectPages(1);
    const int plain = Send(L"be4d0000000001", ePageRead);
    fake->Deliver(withSum(Frame(L"be4d000000000000")));  // bit 7 clear: a CRC error
    robot.ReceiveAll();
    EXPECT_EQ(robot.FindReply(plain), nullptr);
    EXPECT_NE(Log().find("*******CRC error"), std::string::npos);
}

TEST_F(Link, NextCommandIsWrittenInTheCycleThatFinishesTheFirst) {
    const int first = Send(L"0101");
    const int second = robot.Issue(CString(L"0202"), eStandard, false, false);
    robot.Transmit(50);
    EXPECT_EQ(fake->writes.size(), 1u);  // still awaiting the first
    fake->DeliverFrame(L"0101");
    robot.ReceiveAll();  // one poll cycle: receive, then transmit
    robot.Transmit(50);
    ASSERT_EQ(fake->writes.size(), 2u);
    EXPECT_EQ(fake->writes[1].bytes, Frame(L"0202"));
    EXPECT_TRUE(robot.FindReply(first)->IsReplyComplete());
    EXPECT_EQ(robot.FindReply(second), nullptr);

    // After an abandonment, too: it happens at the start of Transmit.
    robot.SetTimeout(100);
    const int third = robot.Issue(CString(L"0303"), eStandard, false, false);
    robot.Transmit(2000);  // the second times out, the third goes out
    ASSERT_EQ(fake->writes.size(), 3u);
    EXPECT_TRUE(robot.FindReply(second)->IsAbandoned());
    EXPECT_EQ(fake->writes[2].bytes, Frame(L"0303"));
    (void)third;
}

TEST_F(Link, KeepAliveIsWrittenAfterIdleTimeAndHeldWhileDisconnected) {
    robot.SetKeepAlive(true);
    fake->connected = false;
    for (int i = 0; i < 300; ++i) robot.Transmit(100);
    EXPECT_TRUE(fake->writes.empty());  // a closed TCP port holds it
    fake->connected = true;
    for (int i = 0; i < 250; ++i) robot.Transmit(100);
    robot.Transmit(100);
    ASSERT_EQ(fake->writes.size(), 1u);
    EXPECT_EQ(fake->writes[0].bytes, Frame(L"be71"));
    robot.Transmit(100);  // abandoned one cycle later
    EXPECT_EQ(Log(), "Issuing Local:be71\r\n****Abandoning \"be71\"\r\n");
}

TEST_F(Link, InputOutputErrorRecoversAndWritesTheSameCommandAgain) {
    fake->failNextWrite = true;
    const int id = Send(L"0a0b");
    EXPECT_FALSE(robot.Awaiting());
    ASSERT_EQ(fake->events.size(), 1u);
    EXPECT_EQ(fake->events[0], "recover 1027 24577");
    robot.Transmit(100);
    ASSERT_EQ(fake->writes.size(), 2u);
    EXPECT_EQ(fake->writes[0].bytes, fake->writes[1].bytes);
    fake->DeliverFrame(L"0a0b");
    robot.ReceiveAll();
    EXPECT_TRUE(robot.FindReply(id)->IsReplyComplete());
}

TEST_F(Link, PageReadSwitchesRateAndReturnsAfterTheLastPage) {
    fake->changesRate = true;
    robot.ExpectPages(2);
    const int id = Send(L"be4d00000000020c", ePageRead);  // rate byte 0x0c: code 4
    ASSERT_EQ(fake->writes.size(), 1u);
    EXPECT_TRUE(fake->writes[0].byteByByte);
    ASSERT_EQ(fake->events.size(), 1u);
    EXPECT_EQ(fake->events[0], "switch 153600");
    EXPECT_TRUE(robot.BaudChanged());
    fake->DeliverFrame(L"be4d000000000000");
    fake->DeliverFrame(L"be4d000000000100");
    robot.ReceiveAll();
    EXPECT_TRUE(robot.FindReply(id)->IsReplyComplete());
    ASSERT_EQ(fake->events.size(), 2u);
    EXPECT_EQ(fake->events[1], "**** Changing baud rate to38400");
    EXPECT_FALSE(robot.BaudChanged());
}

TEST_F(Link, RateFallbacksWhenRateCommandsTimeOut) {
    fake->changesRate = true;
    robot.SetTimeout(100);
    Send(L"be2c0100", eBaud38400);
    robot.Transmit(100);
    Send(L"be2c0200", eBaud76800);
    robot.Transmit(100);
    robot.ExpectPages(1);
    Send(L"be4d000000000105", ePageRead);  // code 5
    robot.Transmit(100);
    const std::vector<std::string> expected = {
        "switch 38400", "discard", "****6 Changing baud rate to76800",
        "switch 76800", "discard", "****5 Changing baud rate to38400",
        "switch 230400", "discard", "****5 Changing baud rate to38400"};
    EXPECT_EQ(fake->events, expected);
    EXPECT_FALSE(robot.ExpectsPages());
}

TEST_F(Link, AnsweredRateCommandKeepsItsRate) {
    fake->changesRate = true;
    const int id = Send(L"be2c0200", eBaud76800);
    fake->DeliverFrame(L"be2c0200");
    robot.ReceiveAll();
    EXPECT_TRUE(robot.FindReply(id)->IsReplyComplete());
    EXPECT_EQ(fake->rate_, 76800u);
    EXPECT_EQ(fake->events.size(), 1u);
}

TEST_F(Link, PortsThatKeepTheirRateNeverSwitch) {
    robot.ExpectPages(1);
    Send(L"be4d00000000010c", ePageRead);
    EXPECT_FALSE(fake->writes[0].byteByByte);
    EXPECT_TRUE(fake->events.empty());
    robot.Transmit(5000);
    EXPECT_EQ(fake->events, std::vector<std::string>{"discard"});
    EXPECT_EQ(Log().find("Changing baud rate"), std::string::npos);
}

TEST_F(Link, WriteToPortResults) {
    char bytes[] = "\x01\x02\x03";
    EXPECT_FALSE(robot.WriteToPort(nullptr, 3));
    EXPECT_FALSE(robot.WriteToPort(bytes, -1));
    EXPECT_TRUE(robot.WriteToPort(bytes, 3));
    EXPECT_EQ(fake->raw, std::string("\x01\x02\x03", 3));
    fake->rawResult = false;
    EXPECT_FALSE(robot.WriteToPort(bytes, 3));

    TestRobot bare;  // no port: only a count of 0 succeeds
    EXPECT_TRUE(bare.WriteToPort(bytes, 0));
    EXPECT_FALSE(bare.WriteToPort(bytes, 1));
    EXPECT_FALSE(bare.WriteToPort(nullptr, 0));
}
