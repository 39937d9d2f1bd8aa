// Bad input and missing pieces: one clear line on stderr, the documented
// exit code, and nothing sent or written.
#include <gtest/gtest.h>

#include "product/ctl_process.h"
#include "tools/vornexctl/command_line.h"
#include "sim/server/sim_server.h"

using namespace ctltest;

namespace {

// The first line of stderr, which carries the reason.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

} // namespace

TEST(CtlInput, BadCommandLinesExitWithCodeTwoAndSendNothing) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    const std::wstring link = L"--tcp 127.0.0.1:" + std::to_wstring(port) + L" ";
    const struct {
        std::wstring args;
        const char* reason;
    } cases[] = {
        {L"frobnicate", "vornexctl: unknown command 'frobnicate'"},
        {link + L"send BE0", "vornexctl: 'BE0' has an odd number of hex digits (two per byte)"},
        {link + L"send BE01 XYZ1", "vornexctl: 'XYZ1' is not hex (digits 0-9, a-f only)"},
        {L"info", "vornexctl: info needs a link: --tcp HOST:PORT, --com N or --ftdi DESCRIPTION"},
        {L"--tcp 127.0.0.1 info", "vornexctl: --tcp needs HOST:PORT, not '127.0.0.1'"},
        {link + L"download --pages 0:0 -o x.bin", "vornexctl: --pages needs FIRST:COUNT[,FIRST:COUNT...] with COUNT 1 or "
                                                  "more, not '0:0'"},
        {link + L"--timeout soon info", "vornexctl: --timeout needs milliseconds 1..600000, not 'soon'"},
    };
    for (const auto& c : cases) {
        const CtlResult r = RunCtl(c.args);
        EXPECT_EQ(2, r.exitCode) << Printable(c.args);
        EXPECT_EQ(c.reason, FirstLine(r.err));
        EXPECT_NE(std::string::npos, r.err.find("usage: vornexctl"));
        EXPECT_EQ("", r.out);
    }
    EXPECT_EQ(0u, sim.Connections());
    EXPECT_EQ(0u, sim.CommandCount());
}

TEST(CtlInput, LinksThatDoNotOpenExitWithCodeThree) {
    CtlResult r = RunCtl(L"--com 250 info");
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ("vornexctl: cannot open COM250", FirstLine(r.err));

    // A port nobody listens on: the one a closed listener had.
    int port = 0;
    {
        vxsim::SimServer probe;
        port = probe.ListenTcp();
    }
    ASSERT_GT(port, 0);
    r = RunCtl(L"--tcp 127.0.0.1:" + std::to_wstring(port) + L" --timeout 500 info");
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ("vornexctl: cannot connect to 127.0.0.1:" + std::to_string(port) + " within 500 ms", FirstLine(r.err));
}

TEST(CtlInput, AnUnwritableOutputFileIsRefusedBeforeAnythingIsSent) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    const std::wstring file = WorkDir() + L"no-such-folder\\pages.bin";
    const CtlResult r = RunCtl(L"--tcp 127.0.0.1:" + std::to_wstring(port) + L" download --pages 0:2 -o " + file);
    EXPECT_EQ(4, r.exitCode);
    EXPECT_EQ(0u, FirstLine(r.err).find("vornexctl: cannot write ")) << r.err;
    EXPECT_EQ(0u, sim.CommandCount());
    EXPECT_FALSE(FileExists(file));
}

TEST(CtlInput, WithoutTheLibraryItExitsWithCodeSix) {
    const std::wstring alone = WorkDir() + L"alone\\";
    CreateDirectoryW(alone.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BinDir() + L"vornexctl.exe").c_str(), (alone + L"vornexctl.exe").c_str(), FALSE));
    // Started in its own folder, so that no vornex.dll lies on its search path.
    CtlProcess ctl(L"ports", alone + L"vornexctl.exe", alone);
    const CtlResult r = ctl.Wait(30000);
    EXPECT_EQ(6, r.exitCode);
    EXPECT_EQ(0u, r.err.find("vornexctl: cannot load vornex.dll")) << r.err;
    CtlProcess sim(L"sim --help", alone + L"vornexctl.exe", alone);
    const CtlResult s = sim.Wait(30000);
    EXPECT_EQ(6, s.exitCode);
    EXPECT_EQ("vornexctl: vornex-sim.exe is not beside vornexctl.exe", FirstLine(s.err));
}

TEST(CtlInput, PortsListsTheComPortsOfTheMachine) {
    // A port known only to the registry's serial map, as a USB adapter's
    // driver leaves it.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const wchar_t data[] = L"COM42";
    RegSetValueExW(key, L"\\Device\\VxCtl42", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
    const CtlResult r = RunCtl(L"ports");
    RegDeleteValueW(key, L"\\Device\\VxCtl42");
    RegCloseKey(key);
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("COM42   VxCtl42 (COM42)\n")) << r.out;
    EXPECT_EQ("", r.err);
}

TEST(CtlInput, HelpGoesToStandardOutput) {
    const CtlResult r = RunCtl(L"--help");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(0u, r.out.find("usage: vornexctl"));
    EXPECT_NE(std::string::npos, r.out.find("exit codes:"));
}
