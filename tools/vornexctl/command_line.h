#pragma once
// The command line of vornexctl, parsed without touching the system: what to
// do, over which link, with which settings.
#include <cstdint>
#include <string>
#include <vector>

enum class LinkKind { kNone, kTcp, kCom, kFtdiDescription, kFtdiLocation, kFtdiIndex };

struct PageRun {
    int32_t first = 0;
    int32_t count = 0;
};

struct CtlCommand {
    std::wstring name;  // ports, ftdi, info, send, download, sim, help

    LinkKind link = LinkKind::kNone;
    std::wstring host;             // --tcp HOST:PORT
    unsigned tcpPort = 0;
    int com = 0;                   // --com N
    std::wstring ftdiDescription;  // --ftdi
    unsigned long ftdiNumber = 0;  // --ftdi-loc or --ftdi-index

    unsigned timeoutMs = 2000;     // reply time limit, also the TCP connect time
    std::wstring logPath;          // --log

    std::vector<std::wstring> hexCommands;  // send
    std::vector<PageRun> pages;             // download --pages
    long rate = 38400;                      // download --rate
    bool sumCheck = false;                  // download --sum-check
    std::wstring outputPath;                // download -o

    std::vector<std::wstring> simArgs;  // everything after "sim", passed on unchanged
};

extern const char* const kCtlUsage;

// Most pages one download may ask for (a page row is 272 bytes in memory).
constexpr int64_t kMaxDownloadPages = 1000000;

// False with a one-line reason when the arguments (without the program name)
// are not a valid command line.
bool ParseCtlCommandLine(const std::vector<std::wstring>& args, CtlCommand& command, std::string& error);

// A command text: an even number of hex digits, at least two. False with a
// reason otherwise.
bool CheckHexCommand(const std::wstring& text, std::string& error);

// "FIRST:COUNT[,FIRST:COUNT...]": FIRST 0.. and COUNT 1.., no page past
// 2^31 - 1, at most kMaxDownloadPages in all.
bool ParsePageRuns(const std::wstring& text, std::vector<PageRun>& runs, std::string& error);

// The distinct pages of the runs, ascending.
std::vector<int32_t> WantedPages(const std::vector<PageRun>& runs);

// Narrow text of a wide argument for messages (non-ASCII becomes '?').
std::string Printable(const std::wstring& text);
