// vornex-sim: the simulated measuring tool as a console program, for hosts
// under development. See sim/README.md.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "sim/server/sim_server.h"

namespace {

const char* const kUsage =
    "usage: vornex-sim (--tcp PORT | --com N) [options] [SETTING...]\n"
    "  --tcp PORT            listen on 127.0.0.1:PORT (0: any free port)\n"
    "  --com N               play the tool on COM port N at 38400 8N1\n"
    "  --once                with --tcp: end when the first connection ends\n"
    "  --record FILE         write what the tool receives, hex, with timestamps\n"
    "  --quiet               no status lines\n"
    "  --pace, --rate R      the same as pacing=on, rate=R\n"
    "settings, one an argument (key=value):\n";

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_interrupted = true;
        return TRUE;
    }
    return FALSE;
}

bool Number(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

struct Options {
    enum class Link { kNone, kTcp, kCom } link = Link::kNone;
    int links = 0;
    long port = 0;
    bool once = false, quiet = false, help = false;
    std::string record;
    vxsim::ToolConfig tool;
};

bool Parse(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        const bool takesValue = arg == "--tcp" || arg == "--com" || arg == "--record" || arg == "--rate";
        if (takesValue && i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--tcp" || arg == "--com") {
            const bool tcp = arg == "--tcp";
            if (!Number(value, tcp ? 0 : 1, tcp ? 65535 : 255, o.port)) {
                error = tcp ? "--tcp needs a port number 0..65535" : "--com needs a port number 1..255";
                return false;
            }
            o.link = tcp ? Options::Link::kTcp : Options::Link::kCom;
        } else if (arg == "--once") {
            o.once = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--record") {
            o.record = value;
        } else if (arg == "--pace" || arg == "--rate") {
            if (!vxsim::ParseToolConfig(arg == "--pace" ? "pacing=on" : "rate=" + value, o.tool, &error)) return false;
        } else if (arg.compare(0, 2, "--") == 0) {
            error = "unknown option " + arg;
            return false;
        } else {
            // One argument, one setting: its value may hold blanks unquoted.
            const size_t eq = arg.find('=');
            const std::string setting = eq == std::string::npos ? arg : arg.substr(0, eq) + " " + arg.substr(eq + 1);
            if (!vxsim::ParseToolConfig(setting, o.tool, &error)) return false;
        }
        if (takesValue) ++i;
        if (arg == "--tcp" || arg == "--com") ++o.links;
    }
    if (o.help) return true;
    if (o.links != 1) {
        error = o.links == 0 ? "one of --tcp or --com is needed" : "only one of --tcp, --com";
        return false;
    }
    if (o.once && o.link != Options::Link::kTcp) {
        error = "--once goes with --tcp";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error)) {
        fprintf(stderr, "vornex-sim: %s\n%s%s", error.c_str(), kUsage, vxsim::kToolConfigHelp);
        return 2;
    }
    if (o.help) {
        printf("%s%s", kUsage, vxsim::kToolConfigHelp);
        return 0;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    vxsim::SimServer sim;
    sim.Configure(o.tool);
    if (!o.record.empty() && !sim.SetRecordFile(o.record)) {
        fprintf(stderr, "vornex-sim: cannot write %s\n", o.record.c_str());
        return 1;
    }

    bool started = false;
    const int port = static_cast<int>(o.port);
    switch (o.link) {
    case Options::Link::kTcp: {
        sim.SetReconnect(!o.once);
        const int listening = sim.ListenTcp(port);
        started = listening >= 0;
        if (started && !o.quiet) printf("vornex-sim: listening on 127.0.0.1:%d\n", listening);
        break;
    }
    case Options::Link::kCom:
        started = sim.OpenCom(port);
        if (started && !o.quiet) printf("vornex-sim: on COM%d at 38400 8N1\n", port);
        break;
    case Options::Link::kNone: break;
    }
    fflush(stdout);
    if (!started) {
        fprintf(stderr, "vornex-sim: %s\n", sim.LastError().c_str());
        return 1;
    }
    while (!g_interrupted && !sim.WaitFinished(100)) {
    }
    sim.Stop();
    if (!o.quiet) {
        const vxsim::ToolCounters c = sim.Counters();
        printf("vornex-sim: %llu commands, %llu frames answered, %llu bad frames\n",
               static_cast<unsigned long long>(c.commands), static_cast<unsigned long long>(sim.FramesAnswered()),
               static_cast<unsigned long long>(c.badCrcFrames));
    }
    return 0;
}
