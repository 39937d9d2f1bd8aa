// Round trips and idle cost of the link on each port kind, as a host sees
// them: 8-byte echo commands through vornex and through a bare client of the
// same link (bench_client.h), in turns, several repeats each after a warm-up.
// For each: latency from issuing to the reply returned; the host process's
// CPU per 1,000 round trips (user + kernel, without the simulator's own
// threads); and the Wine server's CPU over the same interval, which the
// process clock does not show. Idle: the CPU of the library's own threads
// while a robot polls with nothing to send. Prints figures only; the figures
// behind the plots go to CSV files when asked.
//
// The far end: on TCP the unpaced simulator in this process, or with
// --echo-port a native echo outside Wine, which leaves both clocks to the
// client alone; on COM (a pty link) the simulator through the link's TCP
// bridge, or without --com-bridge whatever serves the link's far end; on
// FTDI the simulated Ftd2xx.dll, which answers inside FT_Write.
//
// Usage: bench_link [--round-trips N] [--min-cpu S] [--max-seconds S] [--repeats R] [--warm-up W]
//                   [--idle-seconds S] [--echo-port PORT] [--com N [--com-bridge PORT]]
//                   [--wineserver-pid PID] [--latency-csv FILE] [--cpu-csv FILE] [--runs-csv FILE]
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_client.h"
#include "bench/bench_clock.h"
#include "bench/bench_cpu.h"
#include "bench/bench_samples.h"
#include "bench/bench_vornex_client.h"
#include "protocol/command_frame.h"
#include "sim/server/sim_server.h"

namespace {

using namespace bench;

struct Options {
    int roundTrips = 1000, repeats = 5, warmUp = 100, idleSeconds = 10, com = 0, comBridge = 0, echoPort = 0;
    int serverPid = 0;
    double maxSeconds = 5, minCpu = 0.5;
    std::string latencyCsv, cpuCsv, runsCsv;
};

// One client's round trips in one session.
struct Measurement {
    int n = 0, done = 0;
    double seconds = 0, hostCpu = 0, serverCpu = -1;
    std::vector<double> ms;
    double HostPer1000() const { return n ? hostCpu * 1000.0 / n : 0; }
    double ServerPer1000() const { return n && serverCpu >= 0 ? serverCpu * 1000.0 / n : -1; }
};

struct Idle {
    int libraryThreads = 0;
    double library = -1, host = -1;
};

const std::vector<unsigned char> kFrame = EncodeCommand(kCommandText, 8, false, false);

std::wstring BinFolder() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

// Times at least o.roundTrips round trips after a warm-up, more until the
// process has spent o.minCpu seconds of CPU (20 times as many at most),
// fewer if o.maxSeconds run out. The CPU of the simulator's threads is taken out of the
// process's: what is left is what the client costs its host.
Measurement Measure(Client& client, const std::vector<DWORD>& simThreads, const Options& o, const ServerCpu& server) {
    Measurement m;
    const double warmEnd = Now() + 1.0;
    for (int i = 0; i < o.warmUp && Now() < warmEnd; ++i) client.RoundTrip();
    m.ms.reserve(static_cast<size_t>(o.roundTrips));
    const double sim0 = ThreadsCpu(simThreads), cpu0 = ProcessCpu(), srv0 = server.Read(), t0 = Now();
    for (bool more = true; more && Now() - t0 < o.maxSeconds;) {
        const double start = Now();
        if (client.RoundTrip()) ++m.done;
        m.ms.push_back((Now() - start) * 1000.0);
        // The process clock advances in ticks of 10 ms under Wine: go on
        // until the CPU spent dwarfs a tick, looking only every 100 round
        // trips, since looking costs a call into the Wine server.
        if (++m.n >= o.roundTrips && m.n % 100 == 0)
            more = m.n < o.roundTrips * 20 && ProcessCpu() - cpu0 < o.minCpu;
    }
    m.seconds = Now() - t0;
    const double srv1 = server.Read(), cpu1 = ProcessCpu(), sim1 = ThreadsCpu(simThreads);
    m.hostCpu = (cpu1 - cpu0) - (sim1 - sim0);
    if (srv0 >= 0 && srv1 >= 0) m.serverCpu = srv1 - srv0;
    return m;
}

// The host's own loop with a robot polling and nothing to send: messages,
// nothing else. CPU in % of one core.
Idle MeasureIdle(const std::vector<DWORD>& library, int seconds) {
    Idle idle;
    idle.libraryThreads = static_cast<int>(library.size());
    const std::vector<DWORD> host = {GetCurrentThreadId()};
    const double lib0 = ThreadsCpu(library), host0 = ThreadsCpu(host), t0 = Now();
    while (Now() - t0 < seconds) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    const double span = Now() - t0;
    idle.library = (ThreadsCpu(library) - lib0) * 100.0 / span;
    idle.host = (ThreadsCpu(host) - host0) * 100.0 / span;
    return idle;
}

struct Kind {
    std::string name;
    std::vector<Measurement> vx, bare;
    Idle idle;
};

// One session: the simulator started, the client opened, measured, closed.
Measurement Session(const std::string& kind, bool vornex, const Options& o, const ServerCpu& server, HMODULE d2xx,
                    Idle* idle) {
    const std::set<DWORD> before = ThreadsOfThisProcess();
    std::unique_ptr<vxsim::SimServer> sim;
    int port = 0;
    if (kind == "TCP" && o.echoPort > 0) {
        port = o.echoPort;
    } else if (kind == "TCP") {
        sim.reset(new vxsim::SimServer);
        port = sim->ListenTcp();
    } else if (kind == "COM") {
        port = o.com;
        if (o.comBridge > 0) {
            sim.reset(new vxsim::SimServer);
            if (!sim->ConnectTcp("127.0.0.1", o.comBridge, 5000)) port = -1;
        }
    }
    std::vector<DWORD> simThreads;
    for (DWORD id : ThreadsOfThisProcess())
        if (!before.count(id)) simThreads.push_back(id);

    std::unique_ptr<Client> client;
    std::unique_ptr<VornexClient> vx;
    if (vornex) {
        const VornexClient::Kind k = kind == "TCP"   ? VornexClient::Kind::kTcp
                                     : kind == "COM" ? VornexClient::Kind::kCom
                                                     : VornexClient::Kind::kFtdi;
        vx.reset(new VornexClient(k, port, BinFolder() + L"\\ftdisim", kFrame.size()));
    } else if (kind == "TCP") {
        client.reset(new BareTcpClient(port, kFrame));
    } else if (kind == "COM") {
        client.reset(new BareComClient(port, kFrame));
    } else {
        client.reset(new BareFtdiClient(d2xx, kFrame));
    }
    Client& c = vx ? static_cast<Client&>(*vx) : *client;
    Measurement m;
    if (port < 0 || !c.Open()) {
        std::fprintf(stderr, "bench: no %s link for the %s client\n", kind.c_str(), vornex ? "vornex" : "bare");
        return m;
    }
    if (kind == "FTDI") simThreads = ThreadsStartingIn(d2xx);
    m = Measure(c, simThreads, o, server);
    if (idle && vx) {
        std::vector<DWORD> library;
        const std::set<DWORD> sims(simThreads.begin(), simThreads.end());
        for (DWORD id : vx->NewThreads())
            if (!sims.count(id) && id != GetCurrentThreadId()) library.push_back(id);
        *idle = MeasureIdle(library, o.idleSeconds);
    }
    c.Close();
    return m;
}

std::vector<double> Field(const std::vector<Measurement>& ms, double (Measurement::*f)() const) {
    std::vector<double> v;
    for (const Measurement& m : ms) v.push_back((m.*f)());
    return v;
}

std::vector<double> Pooled(const std::vector<Measurement>& ms) {
    std::vector<double> v;
    for (const Measurement& m : ms) v.insert(v.end(), m.ms.begin(), m.ms.end());
    return v;
}

double RatePerSecond(const Measurement& m) { return m.seconds > 0 ? m.done / m.seconds : 0; }

// Each vornex repeat against the bare one beside it; the median of those.
std::vector<double> Ratios(const Kind& k, double (Measurement::*f)() const) {
    std::vector<double> r;
    for (size_t i = 0; i < k.vx.size() && i < k.bare.size(); ++i)
        if ((k.bare[i].*f)() > 0 && (k.vx[i].*f)() >= 0) r.push_back((k.vx[i].*f)() / (k.bare[i].*f)());
    return r;
}

std::string Spread(const std::vector<double>& v, const char* format) {
    char text[96];
    if (v.empty() || Smallest(v) < 0) return "-";
    const std::string f = std::string(format) + " (" + format + "-" + format + ")";
    std::snprintf(text, sizeof text, f.c_str(), Median(v), Smallest(v), Largest(v));
    return text;
}

void PrintTables(const std::vector<Kind>& kinds, const Options& o, bool haveServer) {
    std::printf("Round trips: %d repeats, each after %d warm-up round trips, of at least %d round trips and on "
                "until the process has spent %.1f s of CPU (at most %.0f s); vornex and the bare client in turns "
                "on the same link; latency pooled over the repeats, round trips a second the median repeat.\n\n",
                o.repeats, o.warmUp, o.roundTrips, o.minCpu, o.maxSeconds);
    std::printf("| port | client | round trips/s | median ms | p90 ms | p99 ms | max ms | answered |\n"
                "|---|---|---|---|---|---|---|---|\n");
    for (const Kind& k : kinds) {
        for (int bare = 0; bare < 2; ++bare) {
            const std::vector<Measurement>& ms = bare ? k.bare : k.vx;
            std::vector<double> rates;
            int done = 0, n = 0;
            for (const Measurement& m : ms) rates.push_back(RatePerSecond(m)), done += m.done, n += m.n;
            const std::vector<double> all = Pooled(ms);
            std::printf("| %s | %s | %.0f | %.3f | %.3f | %.3f | %.3f | %d/%d |\n", k.name.c_str(),
                        bare ? "bare" : "vornex", Median(rates), Median(all), Quantile(all, 0.9),
                        Quantile(all, 0.99), Largest(all), done, n);
        }
    }
    std::printf("\nCPU per 1,000 round trips, s: median of the repeats (smallest-largest). Host: the process's "
                "user + kernel time without the simulator's threads (on FTDI the simulated driver's calls made "
                "on the client's threads stay in). Wine server: its CPU over the same interval%s. Ratio: "
                "vornex / bare, the median of each repeat against the bare one beside it; the goal for the "
                "host is at most 2.\n\n",
                haveServer ? "" : " (not measured: no --wineserver-pid)");
    std::printf("| port | host vornex | host bare | host ratio | server vornex | server bare | server ratio |\n"
                "|---|---|---|---|---|---|---|\n");
    for (const Kind& k : kinds) {
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", k.name.c_str(),
                    Spread(Field(k.vx, &Measurement::HostPer1000), "%.3f").c_str(),
                    Spread(Field(k.bare, &Measurement::HostPer1000), "%.3f").c_str(),
                    Spread(Ratios(k, &Measurement::HostPer1000), "%.2f").c_str(),
                    Spread(Field(k.vx, &Measurement::ServerPer1000), "%.3f").c_str(),
                    Spread(Field(k.bare, &Measurement::ServerPer1000), "%.3f").c_str(),
                    Spread(Ratios(k, &Measurement::ServerPer1000), "%.2f").c_str());
    }
    std::printf("\nIdle, %d s polling with nothing to send: CPU of the library's own threads (the robot's worker; "
                "on COM also the port's worker) and of the host's message loop, %% of one core.\n\n"
                "| port | library threads | library CPU %% | host loop CPU %% |\n|---|---|---|---|\n",
                o.idleSeconds);
    for (const Kind& k : kinds)
        std::printf("| %s | %d | %.2f | %.2f |\n", k.name.c_str(), k.idle.libraryThreads, k.idle.library,
                    k.idle.host);
}

// Latency quantiles, a column per port and client, for plotting the
// distributions: 201 rows from the fastest to the slowest round trip.
void WriteLatencyCsv(const std::vector<Kind>& kinds, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "fraction");
    std::vector<std::vector<double>> columns;
    for (const Kind& k : kinds) {
        std::fprintf(f, ",%s vornex,%s bare", k.name.c_str(), k.name.c_str());
        columns.push_back(Pooled(k.vx));
        columns.push_back(Pooled(k.bare));
    }
    std::fprintf(f, "\n");
    for (auto& c : columns) std::sort(c.begin(), c.end());
    for (int i = 0; i <= 200; ++i) {
        std::fprintf(f, "%.3f", i / 200.0);
        for (const auto& c : columns) std::fprintf(f, ",%.4f", QuantileOfSorted(c, i / 200.0));
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

void WriteCpuCsv(const std::vector<Kind>& kinds, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "port,host vornex,host bare,host ratio,server vornex,server bare,server ratio\n");
    for (const Kind& k : kinds)
        std::fprintf(f, "%s,%.4f,%.4f,%.3f,%.4f,%.4f,%.3f\n", k.name.c_str(),
                     Median(Field(k.vx, &Measurement::HostPer1000)), Median(Field(k.bare, &Measurement::HostPer1000)),
                     Median(Ratios(k, &Measurement::HostPer1000)), Median(Field(k.vx, &Measurement::ServerPer1000)),
                     Median(Field(k.bare, &Measurement::ServerPer1000)),
                     Median(Ratios(k, &Measurement::ServerPer1000)));
    std::fclose(f);
}

void WriteRunsCsv(const std::vector<Kind>& kinds, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "port,client,repeat,round trips,answered,seconds,host cpu s,server cpu s\n");
    for (const Kind& k : kinds)
        for (int bare = 0; bare < 2; ++bare) {
            const std::vector<Measurement>& ms = bare ? k.bare : k.vx;
            for (size_t i = 0; i < ms.size(); ++i)
                std::fprintf(f, "%s,%s,%zu,%d,%d,%.3f,%.4f,%.4f\n", k.name.c_str(), bare ? "bare" : "vornex", i + 1,
                             ms[i].n, ms[i].done, ms[i].seconds, ms[i].hostCpu, ms[i].serverCpu);
        }
    std::fclose(f);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], text = argv[i + 1];
        const int v = std::atoi(text.c_str());
        if (key == "--round-trips") o.roundTrips = v;
        else if (key == "--repeats") o.repeats = v;
        else if (key == "--warm-up") o.warmUp = v;
        else if (key == "--max-seconds") o.maxSeconds = std::atof(text.c_str());
        else if (key == "--min-cpu") o.minCpu = std::atof(text.c_str());
        else if (key == "--idle-seconds") o.idleSeconds = v;
        else if (key == "--com") o.com = v;
        else if (key == "--com-bridge") o.comBridge = v;
        else if (key == "--echo-port") o.echoPort = v;
        else if (key == "--wineserver-pid") o.serverPid = v;
        else if (key == "--latency-csv") o.latencyCsv = text;
        else if (key == "--cpu-csv") o.cpuCsv = text;
        else if (key == "--runs-csv") o.runsCsv = text;
        else std::fprintf(stderr, "bench_link: unknown option %s\n", key.c_str());
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const ServerCpu server(o.serverPid);
    // Loaded once for the whole run, so that the bare client and the library
    // share one instance of the simulated driver.
    const HMODULE d2xx = LoadLibraryW((BinFolder() + L"\\ftdisim\\Ftd2xx.dll").c_str());
    std::vector<Kind> kinds = {{"TCP", {}, {}, {}}, {"FTDI", {}, {}, {}}};
    if (o.com > 0) kinds.insert(kinds.begin() + 1, Kind{"COM", {}, {}, {}});

    for (int repeat = 1; repeat <= o.repeats; ++repeat) {
        for (Kind& k : kinds) {
            // Which goes first alternates, so that a drift in the machine's
            // load falls on both alike.
            for (int turn = 0; turn < 2; ++turn) {
                const bool vornex = (turn == 0) == (repeat % 2 == 0);
                Idle* idle = vornex && repeat == o.repeats ? &k.idle : nullptr;
                (vornex ? k.vx : k.bare).push_back(Session(k.name, vornex, o, server, d2xx, idle));
            }
        }
    }
    PrintTables(kinds, o, server.Available());
    if (!o.latencyCsv.empty()) WriteLatencyCsv(kinds, o.latencyCsv);
    if (!o.cpuCsv.empty()) WriteCpuCsv(kinds, o.cpuCsv);
    if (!o.runsCsv.empty()) WriteRunsCsv(kinds, o.runsCsv);
    if (d2xx) FreeLibrary(d2xx);
    WSACleanup();
    return 0;
}
