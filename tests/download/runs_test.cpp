// Which requests a download sends for a page list, what it does about pages
// that do not come, and when it gives up: over TCP loopback against the tool
// simulator, through the exports.
#include <gtest/gtest.h>

#include "download_rig.h"

namespace {

constexpr long kNoFtdiRate = 38400;
constexpr long kTimeoutMs = 2000;
constexpr long kShortTimeoutMs = 250;
constexpr long kSumCheck = 0;   // flag 0 asks for the sum check (bit 7 of the rate byte)
constexpr long kPlainCrc = 1;

// Rows of a download into a page matrix; -100 when the export is missing.
long DownloadRows(ToolLink& link, const std::vector<std::pair<long, long>>& rows, long timeoutMs, PageMatrix* matrix,
                  long flag = kPlainCrc) {
    PageListArray list(rows);
    SAFEARRAY* out = nullptr;
    const long result = Exports().ReadToolMemorySA(link.robot(), list.get(), kNoFtdiRate, timeoutMs, flag, &out);
    if (matrix && out) ReadPageMatrix(out, *matrix);
    if (out) SafeArrayDestroy(out);
    return result;
}

std::vector<uint32_t> PageNumbers(const PageMatrix& matrix) {
    std::vector<uint32_t> pages;
    for (const auto& row : matrix.data)
        pages.push_back(row[6] | (row[7] << 8) | (row[8] << 16) | (static_cast<uint32_t>(row[9]) << 24));
    return pages;
}

} // namespace

TEST(DownloadRuns, OverlappingRowsGoAsOneRequest) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PageMatrix matrix;
    EXPECT_EQ(DownloadRows(link, {{10, 3}, {12, 4}}, kTimeoutMs, &matrix), 6);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], PageReadPayload(10, 6, 0x01));
    EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{10, 11, 12, 13, 14, 15}));
    EXPECT_FALSE(Contains(link.StopAndReadLog(), "Reissue"));
}

TEST(DownloadRuns, AHundredPagesGoAs64Then36) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PageMatrix matrix;
    EXPECT_EQ(DownloadRows(link, {{0, 100}}, kTimeoutMs, &matrix, kSumCheck), 100);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0], PageReadPayload(0, 64, 0x81));
    EXPECT_EQ(reads[1], PageReadPayload(64, 36, 0x81));
    ASSERT_EQ(matrix.rows, 100);
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(PageNumbers(matrix)[i], i);
    const std::string log = link.StopAndReadLog();
    EXPECT_TRUE(Contains(log, "Unread pages remaining.  Reissue request for 36 pages starting at page 64\n")) << log;
    EXPECT_EQ(CountOf(log, "Reissue"), 1u);
}

TEST(DownloadRuns, AGapSplitsTheRequests) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PageMatrix matrix;
    EXPECT_EQ(DownloadRows(link, {{5, 1}, {7, 1}}, kTimeoutMs, &matrix), 2);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0], PageReadPayload(5, 1, 0x01));
    EXPECT_EQ(reads[1], PageReadPayload(7, 1, 0x01));
    EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{5, 7}));
    EXPECT_TRUE(Contains(link.StopAndReadLog(), "Unread pages remaining.  Reissue request for 1 pages starting at page 7\n"));
}

TEST(DownloadRuns, AnEmptyListSendsNothing) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    PageMatrix matrix;
    EXPECT_EQ(DownloadRows(link, {}, kTimeoutMs, &matrix), 0);
    EXPECT_EQ(matrix.rows, 0);
    long error = 7;
    PageListArray empty({{3, 0}, {9, -4}});
    PageList* pages = Exports().ReadToolMemoryList(link.robot(), empty.get(), kNoFtdiRate, kTimeoutMs, 1, &error);
    ASSERT_NE(pages, nullptr);
    EXPECT_TRUE(pages->empty());
    EXPECT_EQ(error, 0);
    delete pages;
    EXPECT_TRUE(link.PageReads().empty());
}

TEST(DownloadRuns, DroppedPagesAreAskedForAgain) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(link.AddFaults("be4d:droppage=2#1 be4d:droppage=4#1"));
    PageMatrix matrix;
    EXPECT_EQ(DownloadRows(link, {{0, 6}}, kShortTimeoutMs, &matrix), 6);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0], PageReadPayload(0, 6, 0x01));
    // Pages 2 and 4 are not neighbours: one request each.
    EXPECT_EQ(reads[1], PageReadPayload(2, 1, 0x01));
    EXPECT_EQ(reads[2], PageReadPayload(4, 1, 0x01));
    EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{0, 1, 3, 5, 2, 4}));
    const std::string log = link.StopAndReadLog();
    EXPECT_TRUE(Contains(log, "Incomplete response to  cmdID# ")) << log;
    EXPECT_TRUE(Contains(log, "Abandoned: BE4D000000000601\n")) << log;
    EXPECT_TRUE(Contains(log, "Unread pages remaining.  Reissue request for 1 pages starting at page 2\n")) << log;
}

TEST(DownloadRuns, TenFailuresAreBorneAndElevenEndTheDownload) {
    {
        ToolLink link(LinkKind::Tcp);
        ASSERT_TRUE(link.Ready());
        ASSERT_TRUE(link.AddFaults("be4d:noreply#10"));
        PageMatrix matrix;
        EXPECT_EQ(DownloadRows(link, {{40, 2}}, kShortTimeoutMs, &matrix), 2);
        EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{40, 41}));
        EXPECT_EQ(link.PageReads().size(), 11u);
        EXPECT_EQ(CountOf(link.StopAndReadLog(), "Incomplete response to  cmdID# "), 10u);
    }
    {
        ToolLink link(LinkKind::Tcp);
        ASSERT_TRUE(link.Ready());
        ASSERT_TRUE(link.AddFaults("be4d:noreply#11"));
        long error = 5;
        PageListArray list({{40, 2}});
        EXPECT_EQ(Exports().ReadToolMemoryList(link.robot(), list.get(), kNoFtdiRate, kShortTimeoutMs, 1, &error),
                  nullptr);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(link.PageReads().size(), 11u);
        const std::string log = link.StopAndReadLog();
        EXPECT_EQ(CountOf(log, "Incomplete response to  cmdID# "), 11u);
        EXPECT_EQ(CountOf(log, "Abandoned: BE4D280000000201\n"), 11u);
    }
}

TEST(DownloadRuns, FailuresCountOverTheWholeDownload) {
    // Every run of 64 loses its second page, which one more request then
    // brings: the download progresses, yet the count is never reset, so ten
    // runs finish and eleven do not.
    {
        ToolLink link(LinkKind::Tcp);
        ASSERT_TRUE(link.Ready());
        ASSERT_TRUE(link.AddFaults("be4d:droppage=1"));
        PageMatrix matrix;
        EXPECT_EQ(DownloadRows(link, {{0, 640}}, kShortTimeoutMs, &matrix), 640);
        EXPECT_EQ(link.PageReads().size(), 20u);
        EXPECT_EQ(CountOf(link.StopAndReadLog(), "Incomplete response to  cmdID# "), 10u);
    }
    {
        ToolLink link(LinkKind::Tcp);
        ASSERT_TRUE(link.Ready());
        ASSERT_TRUE(link.AddFaults("be4d:droppage=1"));
        PageMatrix matrix;
        EXPECT_EQ(DownloadRows(link, {{0, 704}}, kShortTimeoutMs, &matrix), 0);
        EXPECT_EQ(matrix.rows, 0);
        EXPECT_EQ(link.PageReads().size(), 21u);
    }
}

TEST(DownloadRuns, ASecondPageReadWaitsForTheFirst) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    link.Sim()->SetReplyDelayMs(300);
    const DownloadExports& x = Exports();
    const long first = x.ReadFlashPages(link.robot(), 0, 3, kNoFtdiRate, 1, nullptr);
    EXPECT_NE(first, 0);
    EXPECT_EQ(x.ReadFlashPages(link.robot(), 10, 3, kNoFtdiRate, 1, nullptr), 0);
    // A download meanwhile is refused at its first run: it ends at once, as
    // finished, with no pages.
    PageListArray list({{20, 2}});
    long error = 4;
    PageList* pages = x.ReadToolMemoryList(link.robot(), list.get(), kNoFtdiRate, kTimeoutMs, 1, &error);
    ASSERT_NE(pages, nullptr);
    EXPECT_TRUE(pages->empty());
    EXPECT_EQ(error, 0);
    delete pages;
    CRobotCommand* done = WaitFinished(link.robot(), first, 5000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsReplyComplete());
    EXPECT_EQ(done->GetReplyCount(), 3);
    Host().DeleteReply(link.robot(), first);
    const long second = x.ReadFlashPages(link.robot(), 10, 3, kNoFtdiRate, 1, nullptr);
    EXPECT_NE(second, 0);
    EXPECT_NE(WaitFinished(link.robot(), second, 5000), nullptr);
    EXPECT_EQ(link.PageReads().size(), 2u);
}

TEST(DownloadRuns, ASingleRequestCarriesAtMost128Pages) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    const DownloadExports& x = Exports();
    const long id = x.ReadFlashPages(link.robot(), 0, 200, kNoFtdiRate, 0, nullptr);
    ASSERT_NE(id, 0);
    CRobotCommand* done = WaitFinished(link.robot(), id, 10000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsReplyComplete());
    EXPECT_EQ(done->GetReplyCount(), 128);
    Host().DeleteReply(link.robot(), id);

    const long other = x.ReadFlashPages(link.robot(), 0x12345, 64, 115200, 1, nullptr);
    ASSERT_NE(other, 0);
    ASSERT_NE(WaitFinished(link.robot(), other, 10000), nullptr);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0], PageReadPayload(0, 0x80, 0x81));
    // Without an FTDI device the tool is asked to stay at 38400 (code 1).
    EXPECT_EQ(reads[1], PageReadPayload(0x12345, 0x40, 0x01));
    EXPECT_EQ(x.ReadFlashPages(nullptr, 0, 1, kNoFtdiRate, 1, nullptr), 0);
}

TEST(DownloadRefusals, NoRobotNoPortNoListNoWorker) {
    const DownloadExports& x = Exports();
    PageListArray list({{0, 2}});
    SAFEARRAY* out = nullptr;
    long error = 9;
    EXPECT_EQ(x.ReadToolMemorySA(nullptr, list.get(), kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    EXPECT_EQ(x.ReadToolMemoryList(nullptr, list.get(), kNoFtdiRate, kTimeoutMs, 1, &error), nullptr);
    EXPECT_EQ(error, 9);  // untouched without a robot
    EXPECT_EQ(out, nullptr);

    Robot bare = Host().Create();
    EXPECT_EQ(x.ReadToolMemorySA(bare, list.get(), kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    EXPECT_EQ(x.ReadToolMemoryList(bare, list.get(), kNoFtdiRate, kTimeoutMs, 1, &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(x.ReadToolMemorySA(bare, nullptr, kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    EXPECT_EQ(x.ReadToolMemorySA(bare, list.get(), kNoFtdiRate, kTimeoutMs, 1, nullptr), 0);
    Host().Destroy(bare);

    // A worker that was never started could never end a request.
    ToolLink idle(LinkKind::Tcp, false);
    ASSERT_TRUE(idle.Ready());
    EXPECT_EQ(x.ReadToolMemorySA(idle.robot(), list.get(), kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    EXPECT_EQ(out, nullptr);
}

TEST(DownloadRefusals, AListThatIsNotAMatrixOfIntegersSendsNothing) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    const DownloadExports& x = Exports();
    SAFEARRAY* out = nullptr;

    SAFEARRAY* vector = SafeArrayCreateVector(VT_I4, 0, 2);
    EXPECT_EQ(x.ReadToolMemorySA(link.robot(), &vector, kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    SafeArrayDestroy(vector);

    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    SAFEARRAY* doubles = SafeArrayCreate(VT_R8, 2, bounds);
    EXPECT_EQ(x.ReadToolMemorySA(link.robot(), &doubles, kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    SafeArrayDestroy(doubles);

    SAFEARRAY* none = nullptr;
    long error = 3;
    EXPECT_EQ(x.ReadToolMemoryList(link.robot(), &none, kNoFtdiRate, kTimeoutMs, 1, &error), nullptr);
    EXPECT_EQ(error, 0);

    // More pages than any tool holds (over 2^20): refused whole, not built.
    PageListArray huge({{0, 0x7FFFFFFF}});
    EXPECT_EQ(x.ReadToolMemorySA(link.robot(), huge.get(), kNoFtdiRate, kTimeoutMs, 1, &out), 0);
    PageListArray justOver({{0, 1 << 19}, {1 << 19, (1 << 19) + 1}});
    EXPECT_EQ(x.ReadToolMemorySA(link.robot(), justOver.get(), kNoFtdiRate, kTimeoutMs, 1, &out), 0);

    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(link.PageReads().empty());
}

TEST(DownloadRefusals, SmallElementTypesAndUnreadableRowsAreRead) {
    ToolLink link(LinkKind::Tcp);
    ASSERT_TRUE(link.Ready());
    // VT_UI1 rows, and a third column nobody reads.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    SAFEARRAY* bytes = SafeArrayCreate(VT_UI1, 2, bounds);
    const unsigned char cells[2][3] = {{3, 2, 99}, {200, 1, 99}};
    for (LONG r = 0; r < 2; ++r)
        for (LONG c = 0; c < 3; ++c) {
            LONG at[2] = {r, c};
            unsigned char v = cells[r][c];
            SafeArrayPutElement(bytes, at, &v);
        }
    SAFEARRAY* out = nullptr;
    EXPECT_EQ(Exports().ReadToolMemorySA(link.robot(), &bytes, kNoFtdiRate, kTimeoutMs, 1, &out), 3);
    PageMatrix matrix;
    ASSERT_TRUE(ReadPageMatrix(out, matrix));
    EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{3, 4, 200}));
    SafeArrayDestroy(out);
    SafeArrayDestroy(bytes);

    // Rows are read at indices 0 .. count-1 whatever the lower bound: with a
    // lower bound of 1, index 0 cannot be read (an empty run) and the last
    // row is never reached.
    SAFEARRAYBOUND shifted[2] = {{2, 1}, {2, 0}};
    SAFEARRAY* list = SafeArrayCreate(VT_I4, 2, shifted);
    const LONG rows[2][2] = {{50, 1}, {60, 1}};
    for (LONG r = 0; r < 2; ++r)
        for (LONG c = 0; c < 2; ++c) {
            LONG at[2] = {r + 1, c};
            LONG v = rows[r][c];
            SafeArrayPutElement(list, at, &v);
        }
    out = nullptr;
    EXPECT_EQ(Exports().ReadToolMemorySA(link.robot(), &list, kNoFtdiRate, kTimeoutMs, 1, &out), 1);
    ASSERT_TRUE(ReadPageMatrix(out, matrix));
    EXPECT_EQ(PageNumbers(matrix), (std::vector<uint32_t>{50}));
    SafeArrayDestroy(out);
    SafeArrayDestroy(list);
}
