// CRC, hex text and command frames against the frames the tool is known to accept.
#include <gtest/gtest.h>

#include <string>

#include "frame_builders.h"
#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "protocol/hex_text.h"

using testframes::Bytes;
using testframes::Hex;

namespace {

Bytes Encode(const std::wstring& text, bool addressed = false, bool preFramed = false) {
    return EncodeCommand(text.c_str(), text.size(), addressed, preFramed);
}

} // namespace

TEST(Crc16, MatchesThePolynomialRemainderOnKnownFrames) {
    const Bytes header = Hex({0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09});
    EXPECT_EQ(CCrc16::Of(header.data(), header.size()), 0x4156);
    EXPECT_EQ(testframes::PolynomialRemainder(header.data(), header.size()), 0x4156);
    const Bytes rate = Hex({0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x2B, 0x01, 0x00});
    EXPECT_EQ(CCrc16::Of(rate.data(), rate.size()), 0x847E);
}

TEST(Crc16, MatchesThePolynomialRemainderOnEveryPrefixOfAPattern) {
    Bytes data;
    for (int i = 0; i < 600; ++i) data.push_back(static_cast<unsigned char>(i * 37 + (i >> 3)));
    for (size_t n = 0; n <= data.size(); n += 7)
        ASSERT_EQ(CCrc16::Of(data.data(), n), testframes::PolynomialRemainder(data.data(), n)) << n;
}

TEST(Crc16, FeedsBytesOneAtATimeOrInBlocksAlike) {
    const Bytes data = Hex({0x12, 0x34, 0x56, 0x78, 0x9A});
    CCrc16 one;
    for (unsigned char b : data) one.Add(b);
    CCrc16 block;
    block.Add(data.data(), static_cast<long>(data.size()));
    EXPECT_EQ(one.Value(), block.Value());
    block.Reset();
    EXPECT_EQ(block.Value(), 0);
}

TEST(Crc16, IgnoresEmptyNegativeAndNullInput) {
    CCrc16 crc;
    crc.Add(0x42);
    const uint16_t before = crc.Value();
    const unsigned char byte = 0x55;
    crc.Add(&byte, 0);
    crc.Add(&byte, -5);
    crc.Add(nullptr, 10);
    EXPECT_EQ(crc.Value(), before);
}

TEST(CommandFrame, BuildsTheFourKnownFrames) {
    EXPECT_EQ(Encode(L"BE09"), Hex({0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09, 0x41, 0x56, 0xFA, 0xAF}));
    EXPECT_EQ(Encode(L"BE09", true), Hex({0xA5, 0x5A, 0x01, 0x03, 0xBE, 0x09, 0x72, 0x67, 0xFA, 0xAF}));
    EXPECT_EQ(Encode(L"be71"), Hex({0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x71, 0x41, 0x2E, 0xFA, 0xAF}));
    EXPECT_EQ(Encode(L"be2b0100"),
              Hex({0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x2B, 0x01, 0x00, 0x84, 0x7E, 0xFA, 0xAF}));
}

TEST(CommandFrame, OddTextLosesItsLastDigitToTheCrc) {
    // n = 5/2 = 2 payload bytes; byte 3 = 5/4 + 2 = 3; the half byte of the
    // fifth digit is where the CRC goes.
    const Bytes f = Encode(L"BE091");
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(f[3], 3);
    EXPECT_EQ(f[4], 0xBE);
    EXPECT_EQ(f[5], 0x09);
    EXPECT_EQ(testframes::CrcField(f.data(), f.size()), 0x4156);
    EXPECT_EQ(f[8], 0xFA);
    EXPECT_EQ(f[9], 0xAF);
}

TEST(CommandFrame, LengthByteIsTextLengthOverFourPlusTwoInEightBits) {
    const std::wstring six(6, L'a');  // three payload bytes: length field says 3 words
    EXPECT_EQ(Encode(six)[3], 3);
    EXPECT_EQ(Encode(six).size(), 11u);
    EXPECT_EQ(Encode(std::wstring(1012, L'0'))[3], 255);  // the longest exact one
    EXPECT_EQ(Encode(std::wstring(1016, L'0'))[3], 0);    // 256 wraps to 0
    EXPECT_EQ(Encode(std::wstring(1020, L'0'))[3], 1);
    const Bytes longFrame = Encode(std::wstring(1016, L'f'));
    ASSERT_EQ(longFrame.size(), 508u + 8);
    EXPECT_EQ(longFrame[2], 0);
    EXPECT_EQ(testframes::CrcField(longFrame.data(), longFrame.size()),
              testframes::PolynomialRemainder(longFrame.data(), 508 + 4));
}

TEST(CommandFrame, PreFramedTextIsSentAsItsOwnBytes) {
    EXPECT_EQ(Encode(L"a55a0003be094156faaf", false, true),
              Hex({0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09, 0x41, 0x56, 0xFA, 0xAF}));
    EXPECT_EQ(Encode(L"a55", false, true), Hex({0xA5}));
}

TEST(CommandFrame, PayloadAfterABadDigitStaysZero) {
    const Bytes f = Encode(L"BE09zz12");
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[6], 0);
    EXPECT_EQ(f[7], 0);
    EXPECT_EQ(testframes::CrcField(f.data(), f.size()), testframes::PolynomialRemainder(f.data(), 8));
}

TEST(CommandFrame, NullTextGivesAnEmptyFrame) {
    const Bytes f = EncodeCommand(nullptr, 40, false, false);
    EXPECT_EQ(f.size(), 8u);
    EXPECT_TRUE(EncodeCommand(nullptr, 40, false, true).empty());
}

TEST(BuildCommandFrame, BuildsTheRateResetFrame) {
    size_t size = 0;
    unsigned char* f = BuildCommandFrame(L"be2b0100", &size);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Bytes(f, f + size), Hex({0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x2B, 0x01, 0x00, 0x84, 0x7E, 0xFA, 0xAF}));
    delete[] f;
}

TEST(BuildCommandFrame, RefusesTextWithANonHexCharacter) {
    size_t size = 99;
    EXPECT_EQ(BuildCommandFrame(L"be2g", &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(BuildCommandFrame(nullptr, &size), nullptr);
    EXPECT_EQ(BuildCommandFrame(L"be 2b"), nullptr);
}

TEST(HexText, ConvertsEitherCaseHighNibbleFirst) {
    unsigned char out[3] = {};
    EXPECT_TRUE(HexTextToBytes(out, L"aBcD09", 6));
    EXPECT_EQ(Bytes(out, out + 3), Hex({0xAB, 0xCD, 0x09}));
    unsigned char narrow[2] = {};
    EXPECT_TRUE(HexTextToBytes(narrow, "Fe01", 4));
    EXPECT_EQ(Bytes(narrow, narrow + 2), Hex({0xFE, 0x01}));
}

TEST(HexText, StopsAtTheFirstBadCharacterKeepingTheBytesBefore) {
    unsigned char out[4] = {};
    EXPECT_FALSE(HexTextToBytes(out, L"12345x78", 8));
    EXPECT_EQ(Bytes(out, out + 4), Hex({0x12, 0x34, 0x50, 0x00}));
    // Characters that merely look like digits after case folding are refused.
    unsigned char one[1] = {};
    EXPECT_FALSE(HexTextToBytes(one, L"g0", 2));
    const wchar_t wide[] = {0x0130, L'0', 0};  // dotted capital I
    EXPECT_FALSE(HexTextToBytes(one, wide, 2));
    const wchar_t high[] = {static_cast<wchar_t>(0x0100 + 'a'), L'0', 0};
    EXPECT_FALSE(HexTextToBytes(one, high, 2));
}

TEST(HexText, OddLengthLeavesTheLastDigitInAHighNibble) {
    unsigned char out[2] = {0x00, 0x0C};
    EXPECT_TRUE(HexTextToBytes(out, L"abc", 3));
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xCC);  // the low nibble is not touched
}

TEST(HexText, RefusesNullPointers) {
    unsigned char out[1] = {};
    EXPECT_FALSE(HexTextToBytes(nullptr, L"00", 2));
    EXPECT_FALSE(HexTextToBytes(out, static_cast<const wchar_t*>(nullptr), 2));
    EXPECT_TRUE(HexTextToBytes(out, static_cast<const wchar_t*>(nullptr), 0));
}

TEST(HexText, BytesBecomeLowercaseDigitPairs) {
    const Bytes b = Hex({0x00, 0xA5, 0x5A, 0xFF});
    EXPECT_EQ(BytesToHexText(b.data(), b.size()), L"00a55aff");
    EXPECT_EQ(BytesToHexNarrow(b.data(), b.size()), "00a55aff");
    EXPECT_EQ(BytesToHexNarrow(nullptr, 4), "");
    EXPECT_EQ(BytesToHexText(b.data(), 0), L"");
}
