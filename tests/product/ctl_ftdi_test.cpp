// vornexctl on the simulated FTDI devices: the simulated Ftd2xx.dll is made
// findable for the child through PATH, with two devices from a config file.
#include <gtest/gtest.h>

#include "product/ctl_process.h"
#include "product/page_file_check.h"

using namespace ctltest;

namespace {

class CtlOverFtdi : public ::testing::Test {
protected:
    static std::wstring Config() {
        const std::wstring path = WorkDir() + L"ftdi-devices.txt";
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const char text[] =
            "device description=\"Vornex Sim Tool\" serial=VXS00001 location=0x1011 com=9\n"
            "device description=\"Bench Tool B\" serial=VXS00002 location=0x2022 com=none\n";
        DWORD written = 0;
        WriteFile(f, text, sizeof text - 1, &written, nullptr);
        CloseHandle(f);
        return path;
    }
    static std::wstring PathWithSimulatedD2xx() {
        wchar_t old[32768] = {};
        GetEnvironmentVariableW(L"PATH", old, 32768);
        return BinDir() + L"ftdisim;" + old;
    }

    ScopedEnv m_config{L"VORNEX_FTDISIM_CONFIG", Config()};
    ScopedEnv m_path{L"PATH", PathWithSimulatedD2xx()};
};

} // namespace

TEST_F(CtlOverFtdi, FtdiListsEveryDevice) {
    const CtlResult r = RunCtl(L"ftdi");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("index  location   COM    serial")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("0      0x00001011 COM9   VXS00001         Vornex Sim Tool\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("1      0x00002022 -      VXS00002         Bench Tool B\n")) << r.out;
}

TEST_F(CtlOverFtdi, EachWayOfChoosingADeviceReachesTheTool) {
    CtlResult r = RunCtl(L"--ftdi \"Vornex Sim Tool\" info");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("tool information: 9.1.V1.0.0\n", r.out);
    r = RunCtl(L"--ftdi-loc 0x2022 send BE010203");
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("BE010203: complete, 12 bytes: A5 5A 00 04 BE 01 02 03")) << r.out;
    r = RunCtl(L"--ftdi-index 1 info");
    EXPECT_EQ(0, r.exitCode) << r.err;
}

TEST_F(CtlOverFtdi, DownloadSwitchesToTheFastRate) {
    const std::wstring file = WorkDir() + L"ftdi-pages.bin";
    const std::wstring log = WorkDir() + L"ftdi.log";
    const CtlResult r = RunCtl(L"--ftdi-index 0 --log " + log + L" download --pages 0:60 --rate 230400 -o " + file);
    ASSERT_EQ(0, r.exitCode) << r.err << ReadFileText(log);
    std::vector<uint32_t> pages;
    for (uint32_t i = 0; i < 60; ++i) pages.push_back(i);
    EXPECT_EQ("", CheckPageFile(ReadFileBytes(file), pages));
    // Rate code 5 (230400) in the request's rate byte, and the link switched.
    const std::string text = ReadFileText(log);
    EXPECT_NE(std::string::npos, text.find("Issuing:BE4D000000003c05")) << text;
    EXPECT_NE(std::string::npos, text.find("Changing baud rate to230400")) << text;
}

TEST_F(CtlOverFtdi, ADeviceThatIsNotThereEndsWithCodeThree) {
    CtlResult r = RunCtl(L"--ftdi \"vornex sim tool\" info");  // descriptions match exactly
    EXPECT_EQ(3, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("cannot open the FTDI device \"vornex sim tool\"")) << r.err;
    r = RunCtl(L"--ftdi-loc 0x9999 info");
    EXPECT_EQ(3, r.exitCode);
    r = RunCtl(L"--ftdi-index 7 info");
    EXPECT_EQ(3, r.exitCode);
}

TEST(CtlWithoutD2xx, SaysTheDriverIsMissingWithoutAMessageBox) {
    // No Ftd2xx.dll on the child's search path: a console line, not the
    // library's modal box (the run would hang on it under a display).
    CtlResult r = RunCtl(L"ftdi", 30000);
    EXPECT_EQ(3, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("Ftd2xx.dll not found")) << r.err;
    r = RunCtl(L"--ftdi-index 0 info", 30000);
    EXPECT_EQ(3, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("Ftd2xx.dll not found")) << r.err;
}
