// vornex-sim: the simulated measuring tool as a console program, for hosts
// under development. See sim/README.md for the options.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "sim/server/sim_options.h"
#include "sim/server/sim_server.h"

namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        g_interrupted = true;
        return TRUE;
    }
    return FALSE;
}

} // namespace

int main(int argc, char** argv) {
    vxsim::SimOptions o;
    std::string error;
    if (!vxsim::ParseSimOptions(argc, argv, o, error)) {
        fprintf(stderr, "vornex-sim: %s\n%s", error.c_str(), vxsim::kSimUsage);
        return 2;
    }
    if (o.help) {
        fputs(vxsim::kSimUsage, stdout);
        return 0;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    vxsim::SimServer sim;
    for (const std::string& rule : o.faults) sim.AddFaults(rule);
    if (o.random) {
        std::string chances;
        for (const std::string& c : o.chances) chances += c + " ";
        sim.SetRandomFaults(o.seed, chances);
    }
    sim.SetPacing(o.pace);
    sim.SetFixedLineRate(o.lineRate);
    sim.SetTripleFrames(o.triple);
    if (!o.toolInfo.empty()) sim.SetToolInfo(o.toolInfo);
    sim.SetReplyDelayMs(o.replyDelayMs);
    sim.SetCloseAfterFrames(o.closeAfter);
    if (!o.recordFile.empty() && !sim.SetRecordFile(o.recordFile)) {
        fprintf(stderr, "vornex-sim: cannot write %s\n", o.recordFile.c_str());
        return 1;
    }

    bool started = false;
    switch (o.link) {
    case vxsim::SimOptions::Link::kTcp: {
        sim.SetReconnect(!o.once);
        const int port = sim.ListenTcp(o.port);
        started = port >= 0;
        if (started && !o.quiet) printf("vornex-sim: listening on 127.0.0.1:%d\n", port);
        break;
    }
    case vxsim::SimOptions::Link::kCom:
        started = sim.OpenCom(o.com);
        if (started && !o.quiet) printf("vornex-sim: on COM%d at 38400 8N1\n", o.com);
        break;
    case vxsim::SimOptions::Link::kConnect:
        // The host's end closing is the end of the session.
        sim.SetReconnect(false);
        started = sim.ConnectTcp(o.host, o.port, 10000);
        if (started && !o.quiet) printf("vornex-sim: connected to %s:%d\n", o.host.c_str(), o.port);
        break;
    case vxsim::SimOptions::Link::kNone: break;
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
