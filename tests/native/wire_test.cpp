// The wire format: CRC, hex text, command frames, and the receive scan over
// a buffer the size the robot object uses, fed as ports deliver bytes.
#include <gtest/gtest.h>

#include <string>

#include "frame_kit.h"
#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "protocol/hex_text.h"
#include "protocol/rx_buffer.h"

using kit::Bytes;

namespace {

Bytes Encode(const std::wstring& text, bool addressed = false, bool preFramed = false) {
    return EncodeCommand(text.c_str(), text.size(), addressed, preFramed);
}

const Bytes kToolInfoFrame = {0xA5, 0x5A, 0x00, 0x03, 0xBE, 0x09, 0x41, 0x56, 0xFA, 0xAF};

struct Receiver {  // a buffer the robot object's size; never copied
    Bytes storage = Bytes(30720, 0);
    RxBuffer rx{storage.data(), 0, 30720};
    Receiver& Feed(const Bytes& bytes) {
        for (unsigned char b : bytes) storage.at(rx.count++) = b;
        return *this;
    }
    ScanStep Scan() { return ScanForFrame(rx).step; }
    Bytes Take() {  // accepts one frame and removes it
        const ScanOutcome out = ScanForFrame(rx);
        if (out.step != ScanStep::Accepted) return Bytes();
        const Bytes f(storage.begin(), storage.begin() + out.length);
        DropFront(rx, out.length);
        return f;
    }
};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Flip(Bytes f, size_t at) { return f[at] ^= 0x01, f; }  // one bit of byte at

} // namespace

TEST(Crc16, IsThePolynomialRemainderFedWholeOrByteByByte) {
    EXPECT_EQ(0x4156, CCrc16::Of(kToolInfoFrame.data(), 6));
    Bytes data;
    for (int i = 0; i < 600; ++i) data.push_back(static_cast<unsigned char>(i * 37 + (i >> 3)));
    for (size_t n = 0; n <= data.size(); n += 7)
        ASSERT_EQ(kit::PolynomialRemainder(data.data(), n), CCrc16::Of(data.data(), n)) << n;
    CCrc16 one;
    for (unsigned char b : data) one.Add(b);
    EXPECT_EQ(CCrc16::Of(data.data(), data.size()), one.Value());
}

TEST(HexText, EitherCaseInLowercaseOutStoppingAtABadDigit) {
    unsigned char out[4] = {};
    EXPECT_TRUE(HexTextToBytes(out, L"aBcD09", 6));
    EXPECT_EQ(Bytes({0xAB, 0xCD, 0x09}), Bytes(out, out + 3));
    EXPECT_TRUE(HexTextToBytes(out, "Fe01", 4));
    EXPECT_EQ(Bytes({0xFE, 0x01}), Bytes(out, out + 2));
    unsigned char partial[4] = {};
    EXPECT_FALSE(HexTextToBytes(partial, L"12345x78", 8));
    EXPECT_EQ(Bytes({0x12, 0x34, 0x50, 0x00}), Bytes(partial, partial + 4));
    const wchar_t high[] = {static_cast<wchar_t>(0x0100 + 'a'), L'0', 0};
    EXPECT_FALSE(HexTextToBytes(out, high, 2));
    const Bytes b = {0x00, 0xA5, 0x5A, 0xFF};
    EXPECT_EQ(L"00a55aff", BytesToHexText(b.data(), b.size()));
    EXPECT_EQ("00a55aff", BytesToHexNarrow(b.data(), b.size()));
}

TEST(CommandFrame, BuildsTheFramesTheToolAccepts) {
    EXPECT_EQ(kToolInfoFrame, Encode(L"BE09"));
    EXPECT_EQ(Bytes({0xA5, 0x5A, 0x01, 0x03, 0xBE, 0x09, 0x72, 0x67, 0xFA, 0xAF}), Encode(L"BE09", true));
    EXPECT_EQ(Bytes({0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x2B, 0x01, 0x00, 0x84, 0x7E, 0xFA, 0xAF}), Encode(L"be2b0100"));
    // The length byte is the text length / 4 + 2, in eight bits; an odd text loses its last digit to the CRC.
    EXPECT_EQ(3, Encode(L"BE091")[3]);
    EXPECT_EQ(0x4156, kit::CheckField(Encode(L"BE091")));
    EXPECT_EQ(3, Encode(L"aaaaaa")[3]);
    EXPECT_EQ(255, Encode(std::wstring(1012, L'0'))[3]);
    EXPECT_EQ(0, Encode(std::wstring(1016, L'0'))[3]);
    const Bytes bad = Encode(L"BE09zz12");  // payload after a bad digit stays zero
    EXPECT_EQ(Bytes({0xBE, 0x09, 0x00, 0x00}), Bytes(bad.begin() + 4, bad.begin() + 8));
    EXPECT_EQ(kToolInfoFrame, Encode(L"a55a0003be094156faaf", false, true));
    size_t size = 0;
    unsigned char* f = BuildCommandFrame(L"be2b0100", &size);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(Encode(L"be2b0100"), Bytes(f, f + size));
    delete[] f;
    EXPECT_EQ(nullptr, BuildCommandFrame(L"be2g", &size));
}

TEST(FrameScan, TakesWholeSplitAndBackToBackFramesAfterGarbage) {
    Receiver r;
    EXPECT_EQ(ScanStep::WaitForMore, r.Feed({0xA5}).Scan());  // a lone first byte is kept
    EXPECT_EQ(1, r.rx.count);
    r.Feed(Bytes(kToolInfoFrame.begin() + 1, kToolInfoFrame.end() - 1));
    EXPECT_EQ(ScanStep::WaitForMore, r.Scan());
    r.Feed({0xAF});
    EXPECT_EQ(kToolInfoFrame, r.Take());
    const Bytes second = kit::MakeFrame({0xBE, 0x71});
    r.Feed(Concat(Concat({0x00, 0xA5, 0x13, 0x5A, 0xFA, 0xAF, 0xA5}, kToolInfoFrame), second));
    EXPECT_EQ(kToolInfoFrame, r.Take());
    EXPECT_EQ(second, r.Take());
    EXPECT_EQ(0, r.rx.count);
    EXPECT_EQ(ScanStep::WaitForMore, r.Feed({0x01, 0x5A, 0xA5, 0x00, 0xFA, 0xA5}).Scan());  // no marker: all go
    EXPECT_EQ(0, r.rx.count);
}

TEST(FrameScan, ChecksTheCrcTheEndMarkerAndTheWordCount) {
    Bytes zero = kit::MakeFrame({1, 2, 3, 4});
    kit::SetCheckField(zero, 0);
    EXPECT_EQ(zero, Receiver().Feed(zero).Take());  // a zero CRC field passes unchecked
    const ScanOutcome crc = ScanForFrame(Receiver().Feed(Concat(Flip(kToolInfoFrame, 6), {0x77})).rx);
    EXPECT_TRUE(crc.step == ScanStep::CrcError && crc.length == 10);
    Bytes late = kToolInfoFrame;
    late.insert(late.begin() + 8, 0x00);  // end marker one byte late
    Receiver s;
    const ScanOutcome out = ScanForFrame(s.Feed(Concat(late, kToolInfoFrame)).rx);
    ASSERT_EQ(ScanStep::BadSequence, out.step);
    EXPECT_EQ(11, out.length);  // up to the next start marker
    EXPECT_EQ(std::vector<std::string>{"a55a0003be09415600faaf"}, HexDumpLines(s.rx.data, out.length));
    DestroyStartMarker(s.rx);
    EXPECT_EQ(kToolInfoFrame, s.Take());
    EXPECT_EQ(ScanStep::BadSequence, Receiver().Feed({0xA5, 0x5A, 0x00, 0x00, 0x00, 0x00}).Scan());
    for (size_t at : {8u, 9u})  // either end-marker byte wrong
        EXPECT_EQ(ScanStep::BadSequence, Receiver().Feed(Flip(kToolInfoFrame, at)).Scan()) << at;
    const Bytes longest = kit::MakeFrame(Bytes(2 * 4095 - 4, 0x5C));
    EXPECT_EQ(longest.size(), Receiver().Feed(longest).Take().size());
}

TEST(FrameScan, AByteSumPassesOnlyForAPageReadThatAsksForIt) {
    Bytes page = kit::MakePageFrame(0x100, 0, 0x80);
    kit::SealWithSum(page);
    EXPECT_EQ(ScanStep::Accepted, Receiver().Feed(page).Scan());
    page[11] = 0x00;
    kit::SealWithSum(page);
    EXPECT_EQ(ScanStep::CrcError, Receiver().Feed(page).Scan());
    Bytes other = kit::MakeFrame({0xBE, 0x4C, 0, 0, 0, 0, 0, 0x80});
    kit::SealWithSum(other);
    EXPECT_FALSE(FrameIsAcceptable(other.data(), static_cast<int>(other.size())));
}

TEST(ToolInfoScan, SkipsWhatIsNoLetterOrDigitAndTakesTenCharacters) {
    Receiver r;
    r.Feed(Concat({0xA5, 0x00}, Ascii("9012V1.")));
    EXPECT_EQ(ScanStep::WaitForMore, ScanForToolInfo(r.rx).step);
    EXPECT_EQ(9, r.rx.count);  // under ten: nothing dropped yet
    r.Feed(Ascii("23x"));
    const ScanOutcome out = ScanForToolInfo(r.rx);
    ASSERT_EQ(ScanStep::Accepted, out.step);
    EXPECT_EQ(10, out.length);
    EXPECT_EQ(Ascii("9012V1.23x"), Bytes(r.storage.begin(), r.storage.begin() + r.rx.count));
    Receiver other;
    EXPECT_EQ(ScanStep::WaitForMore, ScanForToolInfo(other.Feed(Ascii("8012V1.23x")).rx).step);
    EXPECT_EQ(10, other.rx.count);
}
