// Commands as a host sends them over TCP to the simulated tool: byte arrays
// of each integer element type and any lower bound, pre-framed arrays sent
// unchanged, command kinds, refused arrays, the tool-information command,
// and raw writes with their length rules and busy refusal.
#include <gtest/gtest.h>

#include "host_session.h"
#include "sim/server/sim_server.h"

namespace {

class CommandsOverTcp : public ::testing::Test {
protected:
    void SetUp() override {
        const int port = sim.ListenTcp();
        ASSERT_GT(port, 0);
        ASSERT_NE(AttachTcp(session, port), nullptr);
        session.StartPolling();
    }

    ROBOT_HANDLE robot() const { return session.robot(); }

    long SendBytes(SAFEARRAY* bytes, long kind) {
        HostArray array(bytes);
        return Api().SendCommandBytes(robot(), array.out(), kind);
    }
    long Write(SAFEARRAY* bytes, long length) {
        HostArray array(bytes);
        return Api().WriteToPort(robot(), array.out(), length);
    }
    // Waits (pumping) until the tool holds count bytes; what it holds.
    std::vector<uint8_t> ReceivedOnceAt(size_t count) {
        PumpUntil([&] { return sim.Received().size() >= count; }, 5000);
        return sim.Received();
    }
    // The reply of id, fetched with ROBOT_WaitReplyBytes.
    std::vector<uint8_t> Reply(long id) {
        HostArray reply;
        const long size = Api().WaitReplyBytes(robot(), id, 5000, reply.out());
        return size > 0 ? BytesOf(reply.get()) : std::vector<uint8_t>();
    }
    std::wstring TextOf(long id) {
        CRobotCommand* record = Api().GetReply(robot(), id);
        return record ? std::wstring(record->GetString()) : std::wstring(L"(none)");
    }

    vxsim::SimServer sim;  // outlives the session, which releases the port first
    RobotSession session;
};

} // namespace

TEST_F(CommandsOverTcp, ByteArraysOfEveryIntegerTypeAndAnyLowerBound) {
    struct Case {
        const char* name;
        VARTYPE type;
        LONG lower;
        std::vector<long> elements;
        std::vector<uint8_t> payload;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"VT_UI1", VT_UI1, 0, {0xBE, 0x01, 0x02, 0x03}, {0xBE, 0x01, 0x02, 0x03}, L"be010203"},
        // Elements above 0xFF give their low byte; -1 is 0xFF.
        {"VT_I2", VT_I2, 0, {0x1BE, -1, 0x0A, 0x7FFF}, {0xBE, 0xFF, 0x0A, 0xFF}, L"beff0aff"},
        {"VT_I4", VT_I4, 0, {0xBE, 0x12345603}, {0xBE, 0x03}, L"be03"},
        {"VT_I4 from 1", VT_I4, 1, {0xBE, 0x05, 0x06, 0x07}, {0xBE, 0x05, 0x06, 0x07}, L"be050607"},
        {"VT_UI2 from -3", VT_UI2, -3, {0xBE, 0x07, 0x08, 0x09}, {0xBE, 0x07, 0x08, 0x09}, L"be070809"},
        {"VT_I1", VT_I1, 0, {0xBE, 0x0B}, {0xBE, 0x0B}, L"be0b"},
        {"VT_INT", VT_INT, 5, {0xBE, 0x0C}, {0xBE, 0x0C}, L"be0c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const long id = SendBytes(MakeVector(c.type, c.lower, c.elements), 0);
        ASSERT_GT(id, 0);
        EXPECT_EQ(Reply(id), EchoFrame(c.payload));
        ASSERT_FALSE(sim.Commands().empty());
        EXPECT_EQ(sim.Commands().back(), c.payload);
        CRobotCommand* record = Api().GetReply(robot(), id);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(std::wstring(record->GetString()), c.text);
        EXPECT_EQ(record->GetCommand(), eStandard);
        EXPECT_FALSE(record->IsAddressed());
        EXPECT_TRUE(Api().DeleteReply(robot(), id));
    }
}

TEST_F(CommandsOverTcp, PreFramedArraysAreSentUnchanged) {
    // A frame as the library builds it, taken off the wire.
    sim.ClearReceived();
    EXPECT_EQ(RoundTrip(robot(), L"BE050607"), EchoFrame({0xBE, 0x05, 0x06, 0x07}));
    const std::vector<uint8_t> frame = sim.Received();
    ASSERT_GE(frame.size(), 8u);
    ASSERT_EQ(frame[0], 0xA5);
    ASSERT_EQ(frame[1], 0x5A);
    ASSERT_EQ(frame[2], 0x00);

    // Sent as an array it goes out byte for byte, not framed again.
    sim.ClearReceived();
    const long plain = SendBytes(MakeByteVector(frame), 0);
    ASSERT_GT(plain, 0);
    EXPECT_EQ(Reply(plain), EchoFrame({0xBE, 0x05, 0x06, 0x07}));
    EXPECT_EQ(sim.Received(), frame);
    CRobotCommand* record = Api().GetReply(robot(), plain);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(record->IsAddressed());
    EXPECT_EQ(std::wstring(record->GetString()).substr(0, 6), L"a55a00");
    EXPECT_EQ(std::wstring(record->GetString()).size(), frame.size() * 2);
    Api().DeleteReply(robot(), plain);

    // A5 5A 01: pre-framed and addressed, also sent unchanged.
    std::vector<uint8_t> addressedFrame = frame;
    addressedFrame[2] = 0x01;
    Host().SetTimeout(robot(), 300);
    sim.ClearReceived();
    const long addressed = SendBytes(MakeByteVector(addressedFrame), 0);
    ASSERT_GT(addressed, 0);
    EXPECT_EQ(ReceivedOnceAt(addressedFrame.size()), addressedFrame);
    record = WaitFinished(robot(), addressed, 5000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAddressed());
    EXPECT_EQ(std::wstring(record->GetString()).substr(0, 6), L"a55a01");
    EXPECT_EQ(record->GetCommand(), eStandard);
}

TEST_F(CommandsOverTcp, KindZeroIsOrdinaryAndOtherKindsAreTheCommandKind) {
    // Kind 1 awaits no reply (BE71, the keep-alive, gets none from the tool).
    const long noReply = SendBytes(MakeVector(VT_UI1, 0, {0xBE, 0x71}), 1);
    ASSERT_GT(noReply, 0);
    CRobotCommand* record = WaitFinished(robot(), noReply, 5000);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetCommand(), eNoReply);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_EQ(sim.Commands().back(), (std::vector<uint8_t>{0xBE, 0x71}));

    const long seven = SendBytes(MakeVector(VT_UI1, 0, {0xBE, 0x22}), 7);
    ASSERT_GT(seven, 0);
    EXPECT_EQ(Reply(seven), EchoFrame({0xBE, 0x22}));
    record = Api().GetReply(robot(), seven);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(static_cast<long>(record->GetCommand()), 7);

    const long zero = SendBytes(MakeVector(VT_UI1, 0, {0xBE, 0x23}), 0);
    ASSERT_GT(zero, 0);
    EXPECT_EQ(Reply(zero), EchoFrame({0xBE, 0x23}));
    record = Api().GetReply(robot(), zero);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetCommand(), eStandard);
}

TEST_F(CommandsOverTcp, UnreadableArraysAreRefusedAndIssueNothing) {
    const long before = Api().SendCommand(robot(), L"BE01");
    ASSERT_EQ(Reply(before), EchoFrame({0xBE, 0x01}));
    const size_t commands = sim.CommandCount();

    EXPECT_EQ(SendBytes(MakeByteMatrix(2, 2), 0), 0);
    EXPECT_EQ(SendBytes(MakeVector(VT_R8, 0, {0xBE, 0x09}), 0), 0);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(Api().SendCommandBytes(robot(), &none, 0), 0);
    EXPECT_EQ(Api().SendCommandBytes(robot(), nullptr, 0), 0);
    EXPECT_TRUE(Host().IsIdle(robot()));

    // No command took an ID in between, and the tool saw none.
    const long after = Api().SendCommand(robot(), L"BE01");
    EXPECT_EQ(after, before + 1);
    EXPECT_EQ(Reply(after), EchoFrame({0xBE, 0x01}));
    EXPECT_EQ(sim.CommandCount(), commands + 1);
}

TEST_F(CommandsOverTcp, ToolInfoCommand) {
    const long id = Api().GetToolInfo(robot());
    ASSERT_GT(id, 0);
    const std::vector<uint8_t> reply = Reply(id);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "9.1.V1.0.0");
    CRobotCommand* record = Api().GetReply(robot(), id);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetCommand(), eToolInfo);
    EXPECT_EQ(std::wstring(record->GetString()), L"BE09");
    EXPECT_EQ(sim.Commands().back(), (std::vector<uint8_t>{0xBE, 0x09}));
}

TEST_F(CommandsOverTcp, WriteToPortSendsTheRightNumberOfBytesUnframed) {
    const std::vector<uint8_t> ten = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
    std::vector<uint8_t> expected;
    sim.ClearReceived();
    // 3 of 10: the first 3. 0, negative, more than the array, all of it: everything.
    EXPECT_EQ(Write(MakeByteVector(ten), 3), 1);
    expected.insert(expected.end(), ten.begin(), ten.begin() + 3);
    for (long length : {0L, -5L, 11L, 10L}) {
        EXPECT_EQ(Write(MakeByteVector(ten), length), 1) << length;
        expected.insert(expected.end(), ten.begin(), ten.end());
    }
    // Wider elements give their low byte; any lower bound is read.
    EXPECT_EQ(Write(MakeVector(VT_I2, 1, {0x120, -1, 0x7F}), 0), 1);
    expected.insert(expected.end(), {0x20, 0xFF, 0x7F});
    EXPECT_EQ(ReceivedOnceAt(expected.size()), expected);

    // Unreadable arrays write nothing.
    EXPECT_EQ(Write(MakeByteMatrix(2, 2), 0), 0);
    EXPECT_EQ(Write(MakeVector(VT_R8, 0, {1, 2}), 0), 0);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(Api().WriteToPort(robot(), &none, 0), 0);
    EXPECT_EQ(Api().WriteToPort(robot(), nullptr, 0), 0);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(sim.Received(), expected);
    EXPECT_EQ(sim.CommandCount(), 0u);  // raw bytes are no command to the tool
}

TEST_F(CommandsOverTcp, WriteToPortIsRefusedWhileACommandIsAwaited) {
    ASSERT_TRUE(sim.AddFaults("be77:noreply#1"));
    Host().SetTimeout(robot(), 1500);
    const long id = Api().SendCommand(robot(), L"BE77");
    ASSERT_TRUE(PumpUntil([&] { return sim.CommandCount() == 1; }, 5000));
    sim.ClearReceived();
    EXPECT_EQ(Write(MakeByteVector({0x10, 0x11}), 0), -1);

    // Not finished yet: nothing to fetch, the host's array untouched.
    HostArray held(MakeByteVector({1, 2, 3}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, held.out()), 0);
    EXPECT_EQ(held.get(), heldArray);

    // Abandoned: -1, still untouched; and the port takes raw bytes again.
    CRobotCommand* record = WaitFinished(robot(), id, 10000);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->IsAbandoned());
    EXPECT_EQ(Api().GetReplyBytes(robot(), id, held.out()), -1);
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(BytesOf(held.get()), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(sim.Received().empty());
    EXPECT_EQ(Write(MakeByteVector({0x10, 0x11}), 0), 1);
    EXPECT_EQ(ReceivedOnceAt(2), (std::vector<uint8_t>{0x10, 0x11}));
}

TEST(Commands, WriteToPortIsRefusedWhileCommandsAreQueued) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    RobotSession session;
    ASSERT_NE(AttachTcp(session, port), nullptr);
    // Not polling: the command stays queued.
    Api().SendCommand(session.robot(), L"BE01");
    HostArray bytes(MakeByteVector({0x10}));
    EXPECT_EQ(Api().WriteToPort(session.robot(), bytes.out(), 0), -1);
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(sim.Received().empty());
}

TEST(Commands, WriteToPortWithoutAPortWritesNothing) {
    RobotSession session;
    HostArray bytes(MakeByteVector({0x10, 0x11}));
    EXPECT_EQ(Api().WriteToPort(session.robot(), bytes.out(), 0), 0);
}

TEST(Commands, NullRobotGivesZeroAndTouchesNothing) {
    HostArray bytes(MakeByteVector({0xBE, 0x09}));
    SAFEARRAY* const array = bytes.get();
    EXPECT_EQ(Api().SendCommand(nullptr, L"BE09"), 0);
    EXPECT_EQ(Api().SendCommandBytes(nullptr, bytes.out(), 0), 0);
    EXPECT_EQ(Api().GetToolInfo(nullptr), 0);
    EXPECT_EQ(Api().WriteToPort(nullptr, bytes.out(), 0), 0);
    EXPECT_EQ(Api().GetReply(nullptr, 1), nullptr);
    EXPECT_EQ(Api().WaitReply(nullptr, 1, 10), nullptr);
    EXPECT_FALSE(Api().DeleteReply(nullptr, 1));
    EXPECT_EQ(Api().GetReplyBytes(nullptr, 1, bytes.out()), 0);
    EXPECT_EQ(Api().WaitReplyBytes(nullptr, 1, 10, bytes.out()), 0);
    EXPECT_EQ(bytes.get(), array);
    EXPECT_EQ(BytesOf(bytes.get()), (std::vector<uint8_t>{0xBE, 0x09}));
}
