// vornexctl over TCP against the in-process tool simulator: every
// subcommand that talks to a tool, its output, files and exit codes.
#include <gtest/gtest.h>

#include <regex>

#include "product/ctl_process.h"
#include "product/page_file_check.h"
#include "sim/server/sim_server.h"

using namespace ctltest;

namespace {

class CtlOverTcp : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = m_sim.ListenTcp();
        ASSERT_GT(m_port, 0);
    }
    std::wstring Link() const { return L"--tcp 127.0.0.1:" + std::to_wstring(m_port) + L" "; }

    vxsim::SimServer m_sim;
    int m_port = -1;
};

// The numbers of every progress line on stderr ("[###---]  40%  2/5 pages").
std::vector<long> ProgressCounts(const std::string& err) {
    std::vector<long> counts;
    const std::regex line("\\] +[0-9]+%  ([0-9]+)/[0-9]+ pages");
    for (auto it = std::sregex_iterator(err.begin(), err.end(), line); it != std::sregex_iterator(); ++it)
        counts.push_back(std::stol((*it)[1]));
    return counts;
}

} // namespace

TEST_F(CtlOverTcp, InfoPrintsTheToolText) {
    m_sim.SetToolInfo("9.4.V2.1.7");
    const CtlResult r = RunCtl(Link() + L"info");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("tool information: 9.4.V2.1.7\n", r.out);
    EXPECT_EQ("", r.err);
}

TEST_F(CtlOverTcp, SendPrintsEachReplyAndItsStatus) {
    const std::wstring log = WorkDir() + L"send.log";
    const CtlResult r = RunCtl(Link() + L"--log " + log + L" send BE010203 12345678");
    EXPECT_EQ(0, r.exitCode) << r.err;
    // The echo frames as the tool sent them: markers, length, payload, CRC, end.
    EXPECT_NE(std::string::npos, r.out.find("BE010203: complete, 12 bytes: A5 5A 00 04 BE 01 02 03 ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("12345678: complete, 12 bytes: A5 5A 00 04 12 34 56 78 ")) << r.out;
    ASSERT_EQ(2u, m_sim.CommandCount());
    EXPECT_NE(std::string::npos, ReadFileText(log).find("Issuing:BE010203"));
}

TEST_F(CtlOverTcp, AToolThatDoesNotAnswerEndsWithCodeOne) {
    m_sim.AddFaults("be01:noreply");
    CtlResult r = RunCtl(Link() + L"--timeout 300 send BE010203 12345678");
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("BE010203: abandoned")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("12345678: complete")) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("vornexctl: 1 of 2 commands got no reply")) << r.err;

    m_sim.AddFaults("be09:noreply");
    r = RunCtl(Link() + L"--timeout 300 info");
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("did not answer")) << r.err;
}

TEST_F(CtlOverTcp, DownloadWritesThePageRowsInOrder) {
    const std::wstring file = WorkDir() + L"tcp-pages.bin";
    const CtlResult r = RunCtl(Link() + L"download --pages 100:3,0:5 -o " + file);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), {0, 1, 2, 3, 4, 100, 101, 102}));
    EXPECT_FALSE(FileExists(file + L".part"));
    EXPECT_NE(std::string::npos, r.out.find("downloaded 8 pages (2176 bytes, 272 per page)")) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("throughput: [0-9.]+ kB/s, [0-9.]+ pages/s"))) << r.out;
    const std::vector<long> counts = ProgressCounts(r.err);
    ASSERT_FALSE(counts.empty()) << r.err;
    EXPECT_EQ(8, counts.back());
    // The sum-check request asks for the same pages.
    const CtlResult sum = RunCtl(Link() + L"download --pages 7:2 --sum-check -o " + file);
    ASSERT_EQ(0, sum.exitCode) << sum.err;
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), {7, 8}));
}

TEST_F(CtlOverTcp, DownloadProgressMovesWhileThePagesArrive) {
    // Paced at 38400 baud, 64 pages take about 4.5 s.
    m_sim.SetPacing(true);
    const std::wstring file = WorkDir() + L"paced.bin";
    const CtlResult r = RunCtl(Link() + L"download --pages 0:64 -o " + file, 90000);
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<long> counts = ProgressCounts(r.err);
    bool between = false;
    for (long n : counts) between = between || (n > 0 && n < 64);
    EXPECT_TRUE(between) << r.err;
    EXPECT_EQ(64, counts.back());
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), [] {
                  std::vector<uint32_t> p;
                  for (uint32_t i = 0; i < 64; ++i) p.push_back(i);
                  return p;
              }()));
}

TEST_F(CtlOverTcp, AFailedDownloadLeavesNoFile) {
    m_sim.AddFaults("be4d:noreply");
    const std::wstring file = WorkDir() + L"never.bin";
    const CtlResult r = RunCtl(Link() + L"--timeout 100 download --pages 0:3 -o " + file);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("download failed")) << r.err;
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(FileExists(file + L".part"));
}

TEST_F(CtlOverTcp, AnOlderFileIsReplacedOnlyWhenTheDownloadSucceeds) {
    const std::wstring file = WorkDir() + L"keep.bin";
    ASSERT_EQ(0, RunCtl(Link() + L"download --pages 5:1 -o " + file).exitCode);
    m_sim.AddFaults("be4d:noreply");
    EXPECT_EQ(1, RunCtl(Link() + L"--timeout 100 download --pages 6:1 -o " + file).exitCode);
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), {5}));
}

TEST_F(CtlOverTcp, CancelInTheWindowEndsWithCodeFiveAndNoFile) {
    m_sim.SetPacing(true);
    const std::wstring file = WorkDir() + L"cancelled.bin";
    CtlProcess ctl(Link() + L"download --pages 0:200 -o " + file);
    ASSERT_TRUE(ctl.Started());
    // The library's window, once the child shows it (needs the display).
    HWND window = nullptr;
    for (int i = 0; i < 200 && !window; ++i) {
        Sleep(50);
        window = FindWindowW(L"#32770", L"Download in Progress");
    }
    if (!window) GTEST_SKIP() << "no progress window (no display)";
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    const CtlResult r = ctl.Wait(60000);
    EXPECT_EQ(5, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("download cancelled")) << r.err;
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(FileExists(file + L".part"));
}

TEST_F(CtlOverTcp, TheSimCommandRunsTheSimulator) {
    // vornexctl sim is vornex-sim with the same options; --once ends it
    // after the first connection.
    CtlProcess sim(L"sim --tcp 0 --once");
    ASSERT_TRUE(sim.Started());
    std::smatch found;
    std::string out;
    for (int i = 0; i < 200; ++i) {
        out = sim.OutputSoFar();
        if (std::regex_search(out, found, std::regex("listening on 127.0.0.1:([0-9]+)"))) break;
        Sleep(50);
    }
    ASSERT_FALSE(found.empty()) << out;
    const CtlResult info = RunCtl(L"--tcp 127.0.0.1:" + Widen(found[1].str()) + L" info");
    EXPECT_EQ(0, info.exitCode) << info.err;
    EXPECT_EQ("tool information: 9.1.V1.0.0\n", info.out);
    const CtlResult end = sim.Wait(20000);
    EXPECT_EQ(0, end.exitCode);
    EXPECT_NE(std::string::npos, end.out.find("1 commands")) << end.out;

    const CtlResult help = RunCtl(L"sim --help");
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("usage: vornex-sim")) << help.out;
    const CtlResult bad = RunCtl(L"sim --tcp 0 --bogus");
    EXPECT_EQ(2, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.err.find("unknown option --bogus")) << bad.err;
}
