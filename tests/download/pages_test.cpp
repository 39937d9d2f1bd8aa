// What a download hands back, byte for byte, against the simulator's page
// data: the page matrix (standard and triple frames, the sum check, the
// addressed request) and the page list of the decorated entry points.
#include <gtest/gtest.h>

#include <cstring>

#include "download_rig.h"
#include "sim/reply_frames.h"

namespace {

constexpr long kRate = 38400;
constexpr long kTimeoutMs = 2000;

uint32_t RowPage(const std::vector<uint8_t>& row) {
    return row[6] | (row[7] << 8) | (row[8] << 16) | (static_cast<uint32_t>(row[9]) << 24);
}

} // namespace

TEST(DownloadPages, MatrixRowsAreTheFramesAsReceived) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    for (long flag : {1L, 0L}) {
        PageListArray list({{0x1F0, 20}, {0x300, 3}});
        SAFEARRAY* out = nullptr;
        ASSERT_EQ(Exports().ReadToolMemorySA(link.robot(), list.get(), kRate, kTimeoutMs, flag, &out), 23);
        PageMatrix matrix;
        ASSERT_TRUE(ReadPageMatrix(out, matrix));
        EXPECT_EQ(matrix.type, VT_UI1);
        EXPECT_EQ(matrix.width, 272);
        for (long r = 0; r < matrix.rows; ++r) {
            const uint32_t page = r < 20 ? 0x1F0 + r : 0x300 + (r - 20);
            const uint8_t index = static_cast<uint8_t>(r < 20 ? r : r - 20);
            EXPECT_EQ(matrix.data[r], ExpectedPageFrame(page, index, flag == 0)) << "row " << r << " flag " << flag;
        }
        SafeArrayDestroy(out);
    }
}

TEST(DownloadPages, TripleFramesBecomeThreeRowsWithFreshCrcs) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    link.SetTripleFrames(true);
    // Sum check asked for: the triple frames carry a byte sum, and each row
    // rebuilt from them must carry a CRC of its own.
    PageListArray list({{0x100, 2}});
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(Exports().ReadToolMemorySA(link.robot(), list.get(), kRate, kTimeoutMs, 0, &out), 6);
    PageMatrix matrix;
    ASSERT_TRUE(ReadPageMatrix(out, matrix));
    EXPECT_EQ(matrix.width, 272);
    const uint32_t pages[6] = {0x100, 0x900, 0x1100, 0x101, 0x901, 0x1101};
    for (int r = 0; r < 6; ++r) {
        EXPECT_EQ(RowPage(matrix.data[r]), pages[r]);
        EXPECT_TRUE(PageFrameSealed(matrix.data[r])) << "row " << r;
        EXPECT_EQ(matrix.data[r], ExpectedPageFrame(pages[r], static_cast<uint8_t>(r / 3), false)) << "row " << r;
    }
    SafeArrayDestroy(out);
}

TEST(DownloadPages, TheArrayAlreadyInOutIsLeftToTheHost) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    SAFEARRAY* held = SafeArrayCreateVector(VT_UI1, 0, 4);
    unsigned char* data = nullptr;
    SafeArrayAccessData(held, reinterpret_cast<void**>(&data));
    std::memcpy(data, "keep", 4);
    SafeArrayUnaccessData(held);

    SAFEARRAY* out = held;
    PageListArray list({{7, 1}});
    ASSERT_EQ(Exports().ReadToolMemorySA(link.robot(), list.get(), kRate, kTimeoutMs, 1, &out), 1);
    EXPECT_NE(out, held);
    SafeArrayAccessData(held, reinterpret_cast<void**>(&data));
    EXPECT_EQ(std::memcmp(data, "keep", 4), 0);
    SafeArrayUnaccessData(held);
    EXPECT_EQ(SafeArrayDestroy(held), S_OK);
    SafeArrayDestroy(out);
}

TEST(DownloadPages, AddressedRequestCarriesTheAddressCells) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PageListArray list({{0x20, 2}});
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(Exports().ReadToolMemoryAddressed(link.robot(), list.get(), kRate, kTimeoutMs, 1, &out, L"AB"), 2);
    PageMatrix matrix;
    ASSERT_TRUE(ReadPageMatrix(out, matrix));
    EXPECT_EQ(matrix.data[0], ExpectedPageFrame(0x20, 0, false));
    EXPECT_EQ(matrix.data[1], ExpectedPageFrame(0x21, 1, false));
    SafeArrayDestroy(out);

    // Only five of six address characters are sent; the sixth cell never is.
    out = nullptr;
    ASSERT_EQ(Exports().ReadToolMemoryAddressed(link.robot(), list.get(), kRate, kTimeoutMs, 0, &out, L"TOOL-7X"), 2);
    SafeArrayDestroy(out);

    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 2u);
    const std::vector<uint8_t> ab = {0xBE, 0x4D, 0x41, 0x42, 0, 0, 0, 0x00, 0x20, 0, 0, 0, 0x02, 0x01};
    const std::vector<uint8_t> tool = {0xBE, 0x4D, 'T', 'O', 'O', 'L', '-', 0x00, 0x20, 0, 0, 0, 0x02, 0x81};
    EXPECT_EQ(reads[0], ab);
    EXPECT_EQ(reads[1], tool);
    const std::vector<uint8_t> received = link.Sim()->Received();
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received[2] & 0x01, 0x01) << "addressed flag of the frame";
}

TEST(DownloadPages, PageListHoldsEveryFrameInOrder) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    link.SetTripleFrames(true);
    PageListArray list({{3, 2}, {9, 1}});
    long error = 5;
    PageList* pages = Exports().ReadToolMemoryList(link.robot(), list.get(), kRate, kTimeoutMs, 1, &error);
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(error, 0);
    ASSERT_EQ(pages->size(), 3u);
    const uint32_t first[3] = {3, 4, 9};
    const uint8_t index[3] = {0, 1, 0};
    for (size_t i = 0; i < 3; ++i) {
        // Triple frames stay whole in the list.
        const std::vector<uint8_t> expected = vxsim::BuildTriplePageFrame(first[i], index[i], false);
        ASSERT_EQ((*pages)[i].first, static_cast<int>(expected.size()));
        EXPECT_EQ(std::memcmp((*pages)[i].second, expected.data(), expected.size()), 0) << "entry " << i;
        delete[](*pages)[i].second;
    }
    delete pages;

    PageList* addressed =
        Exports().ReadToolMemoryListAddressed(link.robot(), list.get(), kRate, kTimeoutMs, 1, nullptr, L"Z");
    ASSERT_NE(addressed, nullptr);
    EXPECT_EQ(addressed->size(), 3u);
    for (auto& entry : *addressed) delete[] entry.second;
    delete addressed;
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[2].size(), 14u);
    EXPECT_EQ(reads[2][2], 'Z');
}
