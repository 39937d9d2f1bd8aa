// The command line of vornexctl, parsed without running anything.
#include <gtest/gtest.h>

#include "tools/vornexctl/command_line.h"

namespace {

bool Parse(std::vector<std::wstring> args, CtlCommand& c, std::string& error) {
    return ParseCtlCommandLine(args, c, error);
}

} // namespace

TEST(CtlCommandLine, LinksAndSettingsInAnyOrder) {
    CtlCommand c;
    std::string error;
    ASSERT_TRUE(Parse({L"send", L"--tcp", L"localhost:5000", L"BE01", L"--timeout", L"750", L"be2c0100"}, c, error))
        << error;
    EXPECT_EQ(L"send", c.name);
    EXPECT_EQ(LinkKind::kTcp, c.link);
    EXPECT_EQ(L"localhost", c.host);
    EXPECT_EQ(5000u, c.tcpPort);
    EXPECT_EQ(750u, c.timeoutMs);
    EXPECT_EQ((std::vector<std::wstring>{L"BE01", L"be2c0100"}), c.hexCommands);

    ASSERT_TRUE(Parse({L"--ftdi-loc", L"0x2022", L"info"}, c, error)) << error;
    EXPECT_EQ(LinkKind::kFtdiLocation, c.link);
    EXPECT_EQ(0x2022ul, c.ftdiNumber);
    ASSERT_TRUE(Parse({L"--ftdi", L"Bench Tool B", L"info"}, c, error)) << error;
    EXPECT_EQ(L"Bench Tool B", c.ftdiDescription);
    // Everything after sim goes to the simulator unread.
    ASSERT_TRUE(Parse({L"sim", L"--tcp", L"0", L"--bogus"}, c, error)) << error;
    EXPECT_EQ((std::vector<std::wstring>{L"--tcp", L"0", L"--bogus"}), c.simArgs);
}

TEST(CtlCommandLine, DownloadPagesRunsAndLimits) {
    CtlCommand c;
    std::string error;
    ASSERT_TRUE(Parse({L"--com", L"3", L"download", L"--pages", L"10:3,12:4,0x100:1", L"--rate", L"230400", L"-o",
                       L"x.bin"},
                      c, error))
        << error;
    ASSERT_EQ(3u, c.pages.size());
    EXPECT_EQ(256, c.pages[2].first);
    EXPECT_EQ(230400, c.rate);
    // Overlapping runs count each page once.
    EXPECT_EQ((std::vector<int32_t>{10, 11, 12, 13, 14, 15, 256}), WantedPages(c.pages));

    std::vector<PageRun> runs;
    EXPECT_TRUE(ParsePageRuns(L"2147483647:1", runs, error)) << error;
    for (const wchar_t* bad : {L"", L"5", L"5:0", L"-1:3", L"1:2,", L"2147483647:2", L"0:1000001", L"0:600000,1:600000",
                               L"a:1", L"1:1x"}) {
        EXPECT_FALSE(ParsePageRuns(bad, runs, error)) << Printable(bad);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CtlCommandLine, HexCommandsMustBeWholeBytes) {
    std::string error;
    EXPECT_TRUE(CheckHexCommand(L"be09", error));
    EXPECT_TRUE(CheckHexCommand(L"A55A0003BE01", error));
    EXPECT_FALSE(CheckHexCommand(L"", error));
    EXPECT_FALSE(CheckHexCommand(L"be0", error));
    EXPECT_NE(std::string::npos, error.find("odd"));
    EXPECT_FALSE(CheckHexCommand(L"be 09", error));
    EXPECT_FALSE(CheckHexCommand(L"0xbe", error));
}

TEST(CtlCommandLine, RefusalsSayWhy) {
    const std::vector<std::vector<std::wstring>> bad = {
        {},
        {L"frobnicate"},
        {L"info"},                                          // no link
        {L"--tcp", L"5000", L"info"},                       // no host
        {L"--tcp", L"h:0", L"info"},                        // port 0
        {L"--com", L"0", L"info"},
        {L"--com", L"256", L"info"},
        {L"--com", L"1", L"--tcp", L"h:1", L"info"},        // two links
        {L"--timeout", L"0", L"--com", L"1", L"info"},
        {L"--timeout"},                                     // no value
        {L"--com", L"1", L"send"},                          // nothing to send
        {L"--com", L"1", L"send", L"xyz"},
        {L"--com", L"1", L"download", L"-o", L"f"},         // no pages
        {L"--com", L"1", L"download", L"--pages", L"0:1"},  // no file
        {L"--com", L"1", L"info", L"--pages", L"0:1"},
        {L"--com", L"1", L"info", L"extra"},
        {L"--verbose", L"ports"},
    };
    for (const auto& args : bad) {
        CtlCommand c;
        std::string error;
        EXPECT_FALSE(ParseCtlCommandLine(args, c, error)) << (args.empty() ? "(none)" : Printable(args[0]));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(std::string::npos, error.find('\n'));
    }
}
