// Link rates around a download: the simulated FTDI device follows the
// request's rate code once the request has left and returns to 38400 after
// the last page or an abandonment; serial and TCP links never change rate.
// The simulated line garbles every byte sent while device and tool disagree
// on the rate, and with pacing on a request takes real time to leave, so a
// switch made too early or not at all loses the download.
#include <gtest/gtest.h>

#include "download_rig.h"

namespace {

constexpr long kTimeoutMs = 1500;

long Download(ToolLink& link, const std::vector<std::pair<long, long>>& rows, long rate, PageMatrix* matrix,
              const wchar_t* address = nullptr) {
    PageListArray list(rows);
    SAFEARRAY* out = nullptr;
    const long result = Exports().ReadToolMemoryAddressed(link.robot(), list.get(), rate, kTimeoutMs, 1, &out, address);
    if (matrix && out) ReadPageMatrix(out, *matrix);
    if (out) SafeArrayDestroy(out);
    return result;
}

bool RowsArePages(const PageMatrix& matrix, uint32_t first) {
    for (long r = 0; r < matrix.rows; ++r)
        if (matrix.data[r] != ExpectedPageFrame(first + r, static_cast<uint8_t>(r % 64), false)) return false;
    return matrix.rows > 0;
}

// A rate-change command of kind 3 or 4 with its rate code, as the host sends it.
long SendRateCommand(Robot robot, long kind, unsigned char code) {
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
    const unsigned char payload[4] = {0xBE, 0x2C, code, 0x00};
    for (LONG i = 0; i < 4; ++i) SafeArrayPutElement(bytes, &i, const_cast<unsigned char*>(&payload[i]));
    const long id = Exports().SendCommandBytes(robot, &bytes, kind);
    SafeArrayDestroy(bytes);
    return id;
}

} // namespace

TEST(DownloadRates, FtdiSwitchesForThePagesAndBack) {
    ToolLink link(LinkKind::Ftdi);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("pacing on"), 0);
    const long long garbledToTool = ftdisim::Query("garbledtotool");
    const long long garbledToHost = ftdisim::Query("garbledtohost");
    for (long rate : {115200L, 230400L}) {
        PageMatrix matrix;
        ASSERT_EQ(Download(link, {{0, 20}}, rate, &matrix), 20) << rate;
        EXPECT_TRUE(RowsArePages(matrix, 0)) << rate;
        EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
        EXPECT_EQ(ftdisim::Query("toolrate"), 38400);
    }
    EXPECT_EQ(ftdisim::Query("garbledtotool"), garbledToTool);
    EXPECT_EQ(ftdisim::Query("garbledtohost"), garbledToHost);
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0], PageReadPayload(0, 20, 0x03));
    EXPECT_EQ(reads[1], PageReadPayload(0, 20, 0x05));
    const std::string log = link.StopAndReadLog();
    EXPECT_EQ(CountOf(log, "****2 Changing baud rate to115200\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "****2 Changing baud rate to230400\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "**** Changing baud rate to38400\n"), 2u) << log;
}

TEST(DownloadRates, FtdiReturnsTo38400WhenARequestIsAbandoned) {
    ToolLink link(LinkKind::Ftdi);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("pacing on"), 0);
    // The first request is lost on its way: the link has switched for pages
    // that never come, and must be back at 38400 for the reissue.
    ASSERT_TRUE(link.AddFaults("be4d:noreply#1"));
    PageMatrix matrix;
    ASSERT_EQ(Download(link, {{0, 10}}, 153600, &matrix), 10);
    EXPECT_TRUE(RowsArePages(matrix, 0));
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
    const auto reads = link.PageReads();
    const std::string log = link.StopAndReadLog();
    ASSERT_EQ(reads.size(), 2u) << log;
    EXPECT_EQ(reads[0], PageReadPayload(0, 10, 0x04));
    EXPECT_EQ(reads[1], PageReadPayload(0, 10, 0x04));
    // The first request ends by its time limit, the reissue by its last page.
    EXPECT_EQ(CountOf(log, "****2 Changing baud rate to153600\n"), 2u) << log;
    EXPECT_EQ(CountOf(log, "****5 Changing baud rate to38400\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "**** Changing baud rate to38400\n"), 1u) << log;
}

TEST(DownloadRates, AnAddressedReadNeverSwitches) {
    ToolLink link(LinkKind::Ftdi);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("pacing on"), 0);
    PageMatrix matrix;
    ASSERT_EQ(Download(link, {{0x40, 5}}, 115200, &matrix, L"A1"), 5);
    for (long r = 0; r < 5; ++r) EXPECT_EQ(matrix.data[r], ExpectedPageFrame(0x40 + r, static_cast<uint8_t>(r), false));
    const auto reads = link.PageReads();
    ASSERT_EQ(reads.size(), 1u);
    ASSERT_EQ(reads[0].size(), 14u);
    EXPECT_EQ(reads[0][13], 0x03);  // the rate code is there, where the link does not look
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
    EXPECT_FALSE(Contains(link.StopAndReadLog(), "Changing baud rate"));
}

TEST(DownloadRates, SerialAndTcpLinksNeverSwitch) {
    for (LinkKind kind : {LinkKind::Tcp, LinkKind::Com}) {
        ToolLink link(kind);
        ASSERT_TRUE(link.Ready()) << (kind == LinkKind::Tcp ? "tcp" : "com");
        PageMatrix matrix;
        ASSERT_EQ(Download(link, {{100, 4}}, 230400, &matrix), 4);
        EXPECT_TRUE(RowsArePages(matrix, 100));
        const auto reads = link.PageReads();
        ASSERT_EQ(reads.size(), 1u) << link.StopAndReadLog();
        EXPECT_EQ(reads[0], PageReadPayload(100, 4, 0x01));  // asked to stay at 38400
        EXPECT_EQ(link.Sim()->ToolRate(), 38400u);
        EXPECT_FALSE(Contains(link.StopAndReadLog(), "Changing baud rate"));
    }
}

TEST(DownloadRates, RateCommandsAndTheirFallbacks) {
    ToolLink link(LinkKind::Ftdi);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("pacing on"), 0);
    Host().SetTimeout(link.robot(), 500);

    // Kind 4 answered: the link stays at 76800; kind 3 answered: back to 38400.
    long id = SendRateCommand(link.robot(), 4, 2);
    CRobotCommand* done = WaitFinished(link.robot(), id, 5000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsReplyComplete());
    EXPECT_EQ(ftdisim::Query("devicerate"), 76800);
    EXPECT_EQ(ftdisim::Query("toolrate"), 76800);
    id = SendRateCommand(link.robot(), 3, 1);
    done = WaitFinished(link.robot(), id, 5000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsReplyComplete());
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);

    // Kind 4 lost: 38400 again; kind 3 lost: 76800.
    ASSERT_TRUE(link.AddFaults("be2c:noreply#2"));
    id = SendRateCommand(link.robot(), 4, 2);
    done = WaitFinished(link.robot(), id, 5000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsAbandoned());
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
    id = SendRateCommand(link.robot(), 3, 1);
    done = WaitFinished(link.robot(), id, 5000);
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->IsAbandoned());
    EXPECT_EQ(ftdisim::Query("devicerate"), 76800);

    const std::string log = link.StopAndReadLog();
    EXPECT_TRUE(Contains(log, "****2 Changing baud rate to76800\n")) << log;
    EXPECT_TRUE(Contains(log, "****5 Changing baud rate to38400\n")) << log;
    EXPECT_TRUE(Contains(log, "****6 Changing baud rate to76800\n")) << log;
}

TEST(ResetToolRate, SendsTheResetFrameAt115200AndLeavesTheDeviceAt38400) {
    EXPECT_EQ(Exports().ResetToolRate(nullptr), 0);

    ToolLink link(LinkKind::Ftdi, false);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("pacing on"), 0);
    ASSERT_EQ(ftdisim::Control("toolrate 115200"), 0);
    ASSERT_EQ(ftdisim::Control("clearwritten"), 0);
    const long long garbled = ftdisim::Query("garbledtotool");
    EXPECT_EQ(Exports().ResetToolRate(link.port()), 1);
    const std::vector<uint8_t> frame = {0xA5, 0x5A, 0x00, 0x04, 0xBE, 0x2B, 0x01, 0x00, 0x84, 0x7E, 0xFA, 0xAF};
    EXPECT_EQ(ftdisim::Written(), frame);
    // The tool understood it: it was sent at the tool's rate, 8N1.
    EXPECT_EQ(ftdisim::Query("toolrate"), 38400);
    EXPECT_EQ(ftdisim::Query("garbledtotool"), garbled);
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
    EXPECT_EQ(ftdisim::Query("readtimeout"), 100);
    EXPECT_EQ(ftdisim::Query("writetimeout"), 100);
    EXPECT_EQ(ftdisim::Query("format8n1"), 1);
}

TEST(ResetToolRate, ADeviceThatStopsDrainingDoesNotHoldItUp) {
    ToolLink link(LinkKind::Ftdi, false);
    ASSERT_TRUE(link.Ready());
    ASSERT_EQ(ftdisim::Control("txstuck on"), 0);
    const DWORD start = GetTickCount();
    EXPECT_EQ(Exports().ResetToolRate(link.port()), 1);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(ftdisim::Query("devicerate"), 38400);
    ftdisim::Control("txstuck off");
}
