#pragma once
// Command line of vornex-sim.
#include <cstdint>
#include <string>
#include <vector>

namespace vxsim {

struct SimOptions {
    enum class Link { kNone, kTcp, kCom, kConnect };
    Link link = Link::kNone;
    int port = 0;            // --tcp PORT, or the port of --connect
    int com = 0;             // --com N
    std::string host;        // --connect HOST:PORT
    std::vector<std::string> faults;
    bool random = false;
    uint64_t seed = 0;
    std::vector<std::string> chances;
    bool pace = false;
    uint32_t lineRate = 0;  // --rate: pace at this rate whatever the requests ask
    bool triple = false;
    std::string toolInfo;
    uint32_t replyDelayMs = 0;
    int closeAfter = -1;
    bool once = false;
    std::string recordFile;
    bool quiet = false;
    bool help = false;
};

extern const char* const kSimUsage;

// False with a reason when the arguments are not a valid command line.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

} // namespace vxsim
