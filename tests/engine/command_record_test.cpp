// The command record: IDs, copies and the reply walk.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/robot_command.h"

namespace {

char* Bytes(const char* text) {
    const size_t n = std::strlen(text);
    char* data = new char[n];
    std::memcpy(data, text, n);
    return data;
}

} // namespace

TEST(CommandRecord, IdsRiseAndCopiesKeepTheirId) {
    CRobotCommand first;
    CRobotCommand second(CString(L"BE09"), eStandard);
    CRobotCommand third(CString(L"be71"), eNoReply, true, false);
    EXPECT_GT(first.GetID(), 0);
    EXPECT_GT(second.GetID(), first.GetID());
    EXPECT_GT(third.GetID(), second.GetID());
    EXPECT_TRUE(third.IsAddressed());
    EXPECT_FALSE(third.IsReplyComplete());

    CRobotCommand copy(second);
    EXPECT_EQ(copy.GetID(), second.GetID());
    EXPECT_EQ(std::wstring(copy.GetString()), L"BE09");
    CRobotCommand assigned;
    const int ownId = assigned.GetID();
    assigned = third;
    EXPECT_EQ(assigned.GetID(), third.GetID());
    EXPECT_NE(assigned.GetID(), ownId);
    assigned = assigned;
    EXPECT_EQ(assigned.GetID(), third.GetID());
    EXPECT_EQ(assigned.GetCommand(), eNoReply);
}

TEST(CommandRecord, WalkWithoutParts) {
    CRobotCommand record(CString(L"BE09"), eStandard);
    EXPECT_FALSE(record.StartReplyWalk());
    EXPECT_EQ(record.GetReplyData(), nullptr);
    EXPECT_EQ(record.GetReplySize(), 0);
    EXPECT_EQ(record.GetReplyCount(), 0);
    EXPECT_FALSE(record.NextReply());
}

TEST(CommandRecord, OnePartIsReadWithoutAWalk) {
    CRobotCommand record(CString(L"BE09"), eStandard);
    record.StoreReply(0, 5, Bytes("hello"));
    EXPECT_EQ(record.GetReplySize(), 5);
    ASSERT_NE(record.GetReplyData(), nullptr);
    EXPECT_EQ(std::memcmp(record.GetReplyData(), "hello", 5), 0);
    EXPECT_FALSE(record.NextReply());  // the cursor starts at the end
    EXPECT_EQ(record.GetReplySize(), 5);
    record.FreeReplies();
}

TEST(CommandRecord, SeveralPartsWalkInKeyOrderNegativeFirst) {
    CRobotCommand record(CString(L"BE4D"), ePageRead);
    record.StoreReply(5, 1, Bytes("e"));
    record.StoreReply(0, 2, Bytes("aa"));
    record.StoreReply(2, 3, Bytes("ccc"));
    record.StoreReply(-128, 4, Bytes("nnnn"));  // index byte 0x80
    EXPECT_EQ(record.GetReplyCount(), 4);
    EXPECT_EQ(record.GetReplyData(), nullptr);  // before a walk: the end
    EXPECT_EQ(record.GetReplySize(), 0);

    std::string order;
    ASSERT_TRUE(record.StartReplyWalk());
    do {
        order += std::string(record.GetReplyData(), static_cast<size_t>(record.GetReplySize())) + "|";
    } while (record.NextReply());
    EXPECT_EQ(order, "nnnn|aa|ccc|e|");
    EXPECT_EQ(record.GetReplyData(), nullptr);
    EXPECT_FALSE(record.NextReply());

    // A copy shares the parts but has its own cursor, at the end.
    CRobotCommand copy(record);
    EXPECT_EQ(copy.GetReplyCount(), 4);
    EXPECT_EQ(copy.GetReplyData(), nullptr);
    record.FreeReplies();
}

TEST(CommandRecord, StoringUnderAnExistingKeyReplacesThePart) {
    CRobotCommand record(CString(L"BE4D"), ePageRead);
    record.StoreReply(1, 3, Bytes("old"));
    record.StoreReply(1, 4, Bytes("newer"));
    EXPECT_EQ(record.GetReplyCount(), 1);
    EXPECT_EQ(record.GetReplySize(), 4);
    EXPECT_EQ(std::memcmp(record.GetReplyData(), "newe", 4), 0);
    record.FreeReplies();
}
