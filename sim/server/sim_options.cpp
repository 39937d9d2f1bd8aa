#include "sim/server/sim_options.h"

#include <cstdlib>

#include "sim/fault_plan.h"
#include "sim/tool_model.h"

namespace vxsim {

const char* const kSimUsage =
    "usage: vornex-sim (--tcp PORT | --com N | --connect HOST:PORT) [options]\n"
    "  --tcp PORT            listen on 127.0.0.1:PORT (0: any free port)\n"
    "  --com N               play the tool on COM port N at 38400 8N1\n"
    "  --connect HOST:PORT   connect to HOST:PORT and play the tool there\n"
    "  --fault RULE          [PREFIX:]KIND[=A[/B]][#COUNT], repeatable; KIND is noreply,\n"
    "                        droppage=K, badcrc[=K], garbage[=N], split[=N[/MS]], delay=MS,\n"
    "                        close[=N], vanish[=MS]\n"
    "  --random SEED         random faults, with the chances of --chance\n"
    "  --chance KIND=P[/MAX] probability P per command of fault KIND, repeatable\n"
    "  --pace                send no faster than the link rate (rate/10 bytes a second)\n"
    "  --rate R              with --pace: the line runs at R baud whatever the requests ask\n"
    "  --triple              answer page reads with triple frames\n"
    "  --tool-info TEXT      the 10-character tool-info reply (default 9.1.V1.0.0)\n"
    "  --reply-delay MS      pause before every reply\n"
    "  --close-after N       close the TCP connection after N frames\n"
    "  --once                with --tcp: end when the first connection ends\n"
    "  --record FILE         write what the tool receives, hex, with timestamps\n"
    "  --quiet               no status lines\n"
    "Ctrl+C ends the program; with --connect it also ends when the other side closes.\n";

namespace {

bool Number(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0' && value >= low && value <= high;
}

} // namespace

bool ParseSimOptions(int argc, const char* const* argv, SimOptions& o, std::string& error) {
    o = SimOptions();
    int links = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : "";
        long n = 0;
        auto needValue = [&]() {
            if (!hasValue) error = arg + " needs a value";
            return hasValue;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--tcp") {
            if (!needValue()) return false;
            if (!Number(value, 0, 65535, n)) {
                error = "--tcp needs a port number 0..65535";
                return false;
            }
            o.link = SimOptions::Link::kTcp;
            o.port = static_cast<int>(n);
            ++links;
            ++i;
        } else if (arg == "--com") {
            if (!needValue()) return false;
            if (!Number(value, 1, 255, n)) {
                error = "--com needs a port number 1..255";
                return false;
            }
            o.link = SimOptions::Link::kCom;
            o.com = static_cast<int>(n);
            ++links;
            ++i;
        } else if (arg == "--connect") {
            if (!needValue()) return false;
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0 || !Number(value.substr(colon + 1), 1, 65535, n)) {
                error = "--connect needs HOST:PORT";
                return false;
            }
            o.link = SimOptions::Link::kConnect;
            o.host = value.substr(0, colon);
            o.port = static_cast<int>(n);
            ++links;
            ++i;
        } else if (arg == "--fault") {
            if (!needValue()) return false;
            FaultPlan probe;
            if (!probe.AddRules(value, &error)) return false;
            o.faults.push_back(value);
            ++i;
        } else if (arg == "--random") {
            if (!needValue()) return false;
            char* end = nullptr;
            o.seed = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || value[0] == '-' || end == nullptr || *end != '\0') {
                error = "--random needs a seed (a whole number)";
                return false;
            }
            o.random = true;
            ++i;
        } else if (arg == "--chance") {
            if (!needValue()) return false;
            FaultPlan probe;
            if (!probe.SetRandom(1, value, &error)) return false;
            o.chances.push_back(value);
            ++i;
        } else if (arg == "--pace") {
            o.pace = true;
        } else if (arg == "--rate") {
            if (!needValue()) return false;
            const long rate = std::atol(value.c_str());
            if (rate < 300 || rate > 3000000) {
                error = "--rate must lie in 300..3000000";
                return false;
            }
            o.lineRate = static_cast<uint32_t>(rate);
            ++i;
        } else if (arg == "--triple") {
            o.triple = true;
        } else if (arg == "--tool-info") {
            if (!needValue()) return false;
            ToolModel probe;
            if (!probe.SetToolInfo(value)) {
                error = "--tool-info needs 10 characters with '9' first, 'V' fifth and '.' seventh";
                return false;
            }
            o.toolInfo = value;
            ++i;
        } else if (arg == "--reply-delay") {
            if (!needValue()) return false;
            if (!Number(value, 0, 600000, n)) {
                error = "--reply-delay needs milliseconds 0..600000";
                return false;
            }
            o.replyDelayMs = static_cast<uint32_t>(n);
            ++i;
        } else if (arg == "--close-after") {
            if (!needValue()) return false;
            if (!Number(value, 0, 1000000000, n)) {
                error = "--close-after needs a frame count";
                return false;
            }
            o.closeAfter = static_cast<int>(n);
            ++i;
        } else if (arg == "--once") {
            o.once = true;
        } else if (arg == "--record") {
            if (!needValue()) return false;
            o.recordFile = value;
            ++i;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (o.help) return true;
    if (links != 1) {
        error = links == 0 ? "one of --tcp, --com or --connect is needed" : "only one of --tcp, --com, --connect";
        return false;
    }
    if (!o.chances.empty() && !o.random) {
        error = "--chance needs --random SEED";
        return false;
    }
    if (o.once && o.link != SimOptions::Link::kTcp) {
        error = "--once goes with --tcp";
        return false;
    }
    return true;
}

} // namespace vxsim
