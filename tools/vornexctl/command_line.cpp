#include "tools/vornexctl/command_line.h"

#include <algorithm>
#include <set>

const char* const kCtlUsage =
    "usage: vornexctl [LINK] [--timeout MS] [--log FILE] COMMAND [ARGUMENTS]\n"
    "links:\n"
    "  --tcp HOST:PORT        a tool (or vornex-sim) on a TCP port\n"
    "  --com N                COM port N at 38400 8N1\n"
    "  --ftdi DESCRIPTION     the FTDI device with exactly this description\n"
    "  --ftdi-loc ID          the FTDI device at this USB location (0x... or decimal)\n"
    "  --ftdi-index I         the FTDI device with this index\n"
    "commands:\n"
    "  ports                  list the COM ports\n"
    "  ftdi                   list the FTDI devices (index, location, COM port, serial, description)\n"
    "  info                   ask the tool for its information text\n"
    "  send HEX...            send each hex command, print its reply\n"
    "  download --pages FIRST:COUNT[,FIRST:COUNT...] [--rate R] [--sum-check] -o FILE\n"
    "                         read flash pages into FILE (one 272-byte frame per page)\n"
    "  sim [OPTIONS]          run the tool simulator (vornex-sim options; sim --help)\n"
    "options:\n"
    "  --timeout MS           reply time limit and TCP connect time (default 2000)\n"
    "  --log FILE             write the library's log to FILE\n"
    "exit codes: 0 done, 1 the tool did not answer, 2 bad command line, 3 link not\n"
    "opened, 4 output file not written, 5 download cancelled, 6 a program file missing\n";

namespace {

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// A whole decimal number, or hexadecimal after 0x when allowHex, within [low, high].
bool ParseNumber(const std::wstring& text, int64_t low, int64_t high, bool allowHex, int64_t& value) {
    size_t at = 0;
    int base = 10;
    if (allowHex && text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        at = 2;
    }
    if (at >= text.size() || text.size() - at > 12) return false;
    int64_t n = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = text[at];
        int digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return false;
        n = n * base + digit;
    }
    if (n < low || n > high) return false;
    value = n;
    return true;
}

} // namespace

std::string Printable(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

bool CheckHexCommand(const std::wstring& text, std::string& error) {
    if (text.empty()) {
        error = "an empty command text";
        return false;
    }
    for (wchar_t c : text) {
        if (!IsHexDigit(c)) {
            error = "'" + Printable(text) + "' is not hex (digits 0-9, a-f only)";
            return false;
        }
    }
    if (text.size() % 2 != 0) {
        error = "'" + Printable(text) + "' has an odd number of hex digits (two per byte)";
        return false;
    }
    return true;
}

bool ParsePageRuns(const std::wstring& text, std::vector<PageRun>& runs, std::string& error) {
    runs.clear();
    int64_t total = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(L',', start);
        const std::wstring item = text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        const size_t colon = item.find(L':');
        int64_t first = 0;
        int64_t count = 0;
        if (colon == std::wstring::npos || !ParseNumber(item.substr(0, colon), 0, INT32_MAX, true, first) ||
            !ParseNumber(item.substr(colon + 1), 1, kMaxDownloadPages, false, count)) {
            error = "--pages needs FIRST:COUNT[,FIRST:COUNT...] with COUNT 1 or more, not '" + Printable(item) + "'";
            return false;
        }
        if (first + count - 1 > INT32_MAX) {
            error = "--pages: the run " + Printable(item) + " goes past page 2147483647";
            return false;
        }
        total += count;
        if (total > kMaxDownloadPages) {
            error = "--pages: more than " + std::to_string(kMaxDownloadPages) + " pages in one download";
            return false;
        }
        PageRun run;
        run.first = static_cast<int32_t>(first);
        run.count = static_cast<int32_t>(count);
        runs.push_back(run);
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return true;
}

std::vector<int32_t> WantedPages(const std::vector<PageRun>& runs) {
    std::set<int32_t> pages;
    for (const PageRun& run : runs)
        for (int64_t p = run.first; p < static_cast<int64_t>(run.first) + run.count; ++p)
            pages.insert(static_cast<int32_t>(p));
    return std::vector<int32_t>(pages.begin(), pages.end());
}

bool ParseCtlCommandLine(const std::vector<std::wstring>& args, CtlCommand& c, std::string& error) {
    c = CtlCommand();
    int links = 0;
    bool pagesGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (c.name == L"sim") {
            c.simArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        const bool hasValue = i + 1 < args.size();
        const std::wstring value = hasValue ? args[i + 1] : std::wstring();
        int64_t n = 0;
        auto needValue = [&]() {
            if (!hasValue) error = Printable(arg) + " needs a value";
            return hasValue;
        };
        if (arg == L"--help" || arg == L"-h") {
            c.name = L"help";
            return true;
        } else if (arg == L"--tcp") {
            if (!needValue()) return false;
            const size_t colon = value.rfind(L':');
            if (colon == std::wstring::npos || colon == 0 || !ParseNumber(value.substr(colon + 1), 1, 65535, false, n)) {
                error = "--tcp needs HOST:PORT, not '" + Printable(value) + "'";
                return false;
            }
            c.link = LinkKind::kTcp;
            c.host = value.substr(0, colon);
            c.tcpPort = static_cast<unsigned>(n);
            ++links;
            ++i;
        } else if (arg == L"--com") {
            if (!needValue()) return false;
            if (!ParseNumber(value, 1, 255, false, n)) {
                error = "--com needs a port number 1..255, not '" + Printable(value) + "'";
                return false;
            }
            c.link = LinkKind::kCom;
            c.com = static_cast<int>(n);
            ++links;
            ++i;
        } else if (arg == L"--ftdi") {
            if (!needValue()) return false;
            if (value.empty()) {
                error = "--ftdi needs a device description";
                return false;
            }
            c.link = LinkKind::kFtdiDescription;
            c.ftdiDescription = value;
            ++links;
            ++i;
        } else if (arg == L"--ftdi-loc" || arg == L"--ftdi-index") {
            if (!needValue()) return false;
            if (!ParseNumber(value, 0, UINT32_MAX, true, n)) {
                error = Printable(arg) + " needs a number (decimal or 0x...), not '" + Printable(value) + "'";
                return false;
            }
            c.link = arg == L"--ftdi-loc" ? LinkKind::kFtdiLocation : LinkKind::kFtdiIndex;
            c.ftdiNumber = static_cast<unsigned long>(n);
            ++links;
            ++i;
        } else if (arg == L"--timeout") {
            if (!needValue()) return false;
            if (!ParseNumber(value, 1, 600000, false, n)) {
                error = "--timeout needs milliseconds 1..600000, not '" + Printable(value) + "'";
                return false;
            }
            c.timeoutMs = static_cast<unsigned>(n);
            ++i;
        } else if (arg == L"--log") {
            if (!needValue()) return false;
            c.logPath = value;
            ++i;
        } else if (arg == L"--pages") {
            if (!needValue()) return false;
            if (!ParsePageRuns(value, c.pages, error)) return false;
            pagesGiven = true;
            ++i;
        } else if (arg == L"--rate") {
            if (!needValue()) return false;
            if (!ParseNumber(value, 1, 100000000, false, n)) {
                error = "--rate needs a baud rate, not '" + Printable(value) + "'";
                return false;
            }
            c.rate = static_cast<long>(n);
            ++i;
        } else if (arg == L"--sum-check") {
            c.sumCheck = true;
        } else if (arg == L"-o" || arg == L"--output") {
            if (!needValue()) return false;
            if (value.empty()) {
                error = "-o needs a file name";
                return false;
            }
            c.outputPath = value;
            ++i;
        } else if (arg.size() > 1 && arg[0] == L'-') {
            error = "unknown option " + Printable(arg);
            return false;
        } else if (c.name.empty()) {
            static const wchar_t* const kCommands[] = {L"ports", L"ftdi", L"info", L"send", L"download", L"sim", L"help"};
            if (std::find(std::begin(kCommands), std::end(kCommands), arg) == std::end(kCommands)) {
                error = "unknown command '" + Printable(arg) + "'";
                return false;
            }
            c.name = arg;
        } else if (c.name == L"send") {
            if (!CheckHexCommand(arg, error)) return false;
            c.hexCommands.push_back(arg);
        } else {
            error = "unexpected argument '" + Printable(arg) + "' for " + Printable(c.name);
            return false;
        }
    }
    if (c.name.empty()) {
        error = "no command given";
        return false;
    }
    if (links > 1) {
        error = "give only one of --tcp, --com, --ftdi, --ftdi-loc, --ftdi-index";
        return false;
    }
    const bool needsLink = c.name == L"info" || c.name == L"send" || c.name == L"download";
    if (needsLink && c.link == LinkKind::kNone) {
        error = Printable(c.name) + " needs a link: --tcp HOST:PORT, --com N or --ftdi DESCRIPTION";
        return false;
    }
    if (c.name == L"send" && c.hexCommands.empty()) {
        error = "send needs at least one hex command";
        return false;
    }
    if (c.name == L"download") {
        if (!pagesGiven) {
            error = "download needs --pages FIRST:COUNT";
            return false;
        }
        if (c.outputPath.empty()) {
            error = "download needs -o FILE";
            return false;
        }
    } else if (pagesGiven || !c.outputPath.empty() || c.sumCheck) {
        error = "--pages, -o and --sum-check go with download";
        return false;
    }
    return true;
}
