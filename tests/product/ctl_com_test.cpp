// vornexctl on COM9, a pty whose far end (loopback TCP port 47009) is the
// in-process tool simulator.
#include <gtest/gtest.h>

#include "product/ctl_process.h"
#include "product/page_file_check.h"
#include "sim/server/sim_server.h"

using namespace ctltest;

namespace {

class CtlOverCom : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sim.ConnectTcp("127.0.0.1", 47009, 10000)) << m_sim.LastError(); }
    vxsim::SimServer m_sim;
};

} // namespace

TEST_F(CtlOverCom, InfoSendAndDownload) {
    CtlResult r = RunCtl(L"--com 9 info");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("tool information: 9.1.V1.0.0\n", r.out);

    r = RunCtl(L"--com 9 send BE010203 12345678");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("BE010203: complete, 12 bytes: A5 5A 00 04 BE 01 02 03")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("12345678: complete, 12 bytes: A5 5A 00 04 12 34 56 78")) << r.out;

    const std::wstring file = WorkDir() + L"com-pages.bin";
    r = RunCtl(L"--com 9 download --pages 20:4 -o " + file);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), {20, 21, 22, 23}));
}

TEST_F(CtlOverCom, AToolThatDoesNotAnswerEndsWithCodeOne) {
    m_sim.AddFaults("*:noreply");
    const CtlResult r = RunCtl(L"--com 9 --timeout 300 send BE010203");
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("BE010203: abandoned (no good reply within 300 ms)")) << r.out;
}
