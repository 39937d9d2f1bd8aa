// Replies too short to be pages: each counts as a failure, is logged with its
// size, and is left out of what the host gets back.
#include <gtest/gtest.h>

#include "download_rig.h"
#include "scripted_tool.h"
#include "sim/reply_frames.h"
#include "support/test_files.h"

namespace {

// A well-formed frame of the page-read command that holds no page.
std::vector<uint8_t> PagelessFrame() {
    const uint8_t payload[2] = {0xBE, 0x4D};
    return vxsim::BuildReplyFrame(payload, sizeof(payload));
}

struct ScriptedLink {
    explicit ScriptedLink(int pagelessReplies)
        : tool([pagelessReplies](int n, const std::vector<uint8_t>& payload) {
              if (n <= pagelessReplies) return PagelessFrame();
              const uint32_t page = payload[2] | (payload[3] << 8);
              return vxsim::BuildPageFrame(page, 0, false);
          }) {
        robot = Host().Create();
        port = Exports().AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned int>(tool.Port()), 5000);
        logPath = TempPath("bad-reply.log");
        Host().StartLogging(robot, logPath.c_str());
        Host().StartPolling(robot);
    }
    ~ScriptedLink() {
        Host().StopPolling(robot);
        Host().Destroy(robot);
        Exports().ReleaseTcpPort(port);
        DeleteFileA(logPath.c_str());
    }
    std::string Log() {
        Host().StopPolling(robot);
        return ReadLogFile(logPath);
    }

    ScriptedTool tool;
    Robot robot = nullptr;
    Port port = nullptr;
    std::string logPath;
};

} // namespace

TEST(DownloadBadReplies, AFrameWithoutAPageIsAFailure) {
    ScriptedLink link(2);
    ASSERT_NE(link.port, nullptr);
    PageListArray list({{0x33, 1}});
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(Exports().ReadToolMemorySA(link.robot, list.get(), 38400, 1000, 1, &out), 1);
    PageMatrix matrix;
    ASSERT_TRUE(ReadPageMatrix(out, matrix));
    EXPECT_EQ(matrix.data[0], ExpectedPageFrame(0x33, 0, false));
    SafeArrayDestroy(out);
    EXPECT_EQ(link.tool.Commands(), 3);
    const std::string log = link.Log();
    EXPECT_EQ(CountOf(log, "Bad reply to BE4D330000000101 -- size=10\n"), 2u) << log;
    EXPECT_EQ(CountOf(log, "Unread pages remaining.  Reissue request for 1 pages starting at page 51\n"), 2u) << log;
    EXPECT_FALSE(Contains(log, "Incomplete response"));
}

TEST(DownloadBadReplies, ElevenOfThemEndTheDownload) {
    ScriptedLink link(11);
    ASSERT_NE(link.port, nullptr);
    PageListArray list({{0x33, 1}});
    long error = 8;
    EXPECT_EQ(Exports().ReadToolMemoryList(link.robot, list.get(), 38400, 1000, 1, &error), nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(link.tool.Commands(), 11);
}
