// Soak: commands from four host threads at once through the exports against
// the simulator injecting random faults (no reply, bad CRC, garbage, split
// frames, replies after the time limit), the TCP connection dropped halfway
// and every 2500 commands after; then the simulated FTDI device with
// input/output errors and a device that disappears and comes back. Every
// command must end exactly once, complete with its own reply or abandoned;
// the handle count and private bytes must stay flat.
//
// Usage: soak_test [--commands N] [--ftdi-commands N] [--seed S] [--timeout MS]
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/handle_count.h"
#include "support/vornex_test.h"

namespace {

constexpr int kHostThreads = 4;
// Late replies come 700 to 1000 ms after a 400 ms limit: frames carry no
// command ID, so a reply on the edge of the limit could only be taken for
// the next command's; the limit stays clear of a loaded machine's slowest
// ordinary replies, and the late ones come well after it.
const char* kTcpFaults = "noreply=0.05 badcrc=0.05 garbage=0.05/40 split=0.05/4 delay=0.05/700-1000";
const char* kFtdiFaults = "noreply=0.03 badcrc=0.03 ioerror=0.01";

struct Options {
    long commands = 20000, ftdiCommands = 4000;
    uint64_t seed = 1;
    unsigned timeoutMs = 400;
};

struct Counts {
    std::atomic<long> issued{0}, complete{0}, abandoned{0};
    std::atomic<long> lost{0};        // neither complete nor abandoned in time
    std::atomic<long> duplicated{0};  // an ID seen twice, or deleted twice
    std::atomic<long> failed{0};      // an export gave an impossible result
    long misfiled = 0;                // complete with a reply no abandoned command explains
    long lateTaken = 0;               // complete with the late reply of an abandoned command
    bool Clean() const {
        return lost == 0 && duplicated == 0 && misfiled == 0 && failed == 0 && complete + abandoned == issued;
    }
};

struct Figures {
    unsigned long handles;
    unsigned long long privateBytes;
};

Figures Measure() {
    PROCESS_MEMORY_COUNTERS_EX m{};
    m.cb = sizeof m;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
    // Wine leaves PrivateUsage at 0; the page-file usage is the same charge.
    return Figures{CountProcessHandles(), m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage};
}

// What the host threads of one phase share.
struct Shared {
    std::mutex lock;
    std::set<long> ids;
    std::set<std::string> abandoned;  // payloads of abandoned commands
    std::vector<std::string> misfiled;  // payloads of replies filed under another command
};

// A payload unique per command that its echo must carry back.
std::string Payload(int thread, long n) {
    char bytes[5] = {0x5a, static_cast<char>(thread), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n)};
    return std::string(bytes, 5) + '\0';  // six bytes: a multiple of four hex digits
}

std::wstring Hex(const std::string& bytes) {
    std::wstring text;
    wchar_t two[3];
    for (unsigned char b : bytes) std::swprintf(two, 3, L"%02x", b), text += two;
    return text;
}

void HostThread(ROBOT_HANDLE robot, int thread, long count, unsigned timeoutMs, Counts& c, Shared& s) {
    for (long n = 0; n < count; ++n) {
        const std::string payload = Payload(thread, n);
        const long id = ROBOT_SendCommand(robot, Hex(payload).c_str());
        ++c.issued;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            if (id == 0 || !s.ids.insert(id).second) ++c.duplicated;
        }
        CRobotCommand* record = nullptr;
        for (const DWORD start = GetTickCount(); !record && GetTickCount() - start < 60000;) {
            record = ROBOT_WaitReply(robot, id, timeoutMs);
            if (!record && (record = ROBOT_GetReply(robot, id)) && !record->IsAbandoned()) record = nullptr;
        }
        if (!record) {
            ++c.lost;
            continue;
        }
        if (record->IsReplyComplete()) {
            ++c.complete;
            const int size = record->GetReplySize();
            const std::string got = size > 8 ? std::string(record->GetReplyData() + 4, size - 8) : std::string();
            if (got != payload) {
                std::lock_guard<std::mutex> hold(s.lock);
                s.misfiled.push_back(got);
            }
        } else if (record->IsAbandoned()) {
            ++c.abandoned;
            std::lock_guard<std::mutex> hold(s.lock);
            s.abandoned.insert(payload);
        } else {
            ++c.failed;
        }
        if (!ROBOT_DeleteReply(robot, id)) ++c.failed;
        if (ROBOT_DeleteReply(robot, id)) ++c.duplicated;
    }
}

// total commands from four threads while this thread keeps messages flowing
// (a TCP port created here receives through them) and calls tick.
void RunPhase(ROBOT_HANDLE robot, long total, unsigned timeoutMs, Counts& c,
              const std::function<void(long done)>& tick) {
    Shared s;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHostThreads; ++t)
        threads.emplace_back([&, t] {
            HostThread(robot, t, total / kHostThreads, timeoutMs, c, s);
            ++finished;
        });
    while (finished < kHostThreads) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        tick(c.complete + c.abandoned + c.lost + c.failed);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    for (auto& t : threads) t.join();
    // The answer to an abandoned command that comes just as the next one
    // goes out can only be taken for that one; a real mix-up is a reply of a
    // command that completed, or of no command at all.
    for (const std::string& p : s.misfiled) {
        if (s.abandoned.count(p)) ++c.lateTaken;
        else ++c.misfiled;
        if (c.misfiled + c.lateTaken <= 5) std::printf("  reply %ls filed under another command\n", Hex(p).c_str());
    }
}

void Report(const char* phase, const Counts& c, long long faults, DWORD ms) {
    std::printf("%s: %ld commands, %lld faults injected, %ld complete, %ld abandoned, lost %ld, duplicated %ld, "
                "misfiled %ld, late replies taken for the next command %ld, failed %ld; %.1f s\n",
                phase, c.issued.load(), faults, c.complete.load(), c.abandoned.load(), c.lost.load(),
                c.duplicated.load(), c.misfiled, c.lateTaken, c.failed.load(), ms / 1000.0);
}

ROBOT_HANDLE StartRobot(const Options& o, const std::string& log) {
    ROBOT_HANDLE robot = ROBOT_Create();
    ROBOT_SetTimeout(robot, o.timeoutMs);
    ROBOT_StartLogging(robot, log.c_str());
    return robot;
}

void EndRobot(ROBOT_HANDLE robot) {
    ROBOT_StopPolling(robot);
    ROBOT_Destroy(robot);
}

bool TcpPhase(const Options& o, long commands, const std::string& log, bool report) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    if (!sim.SetRandomFaults(o.seed, kTcpFaults)) return std::printf("soak: fault chances refused\n"), false;
    ROBOT_HANDLE robot = StartRobot(o, log);
    PORT_HANDLE tcp = ROBOT_AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned>(port), 5000);
    if (!tcp) return ROBOT_Destroy(robot), std::printf("soak: no TCP link to the simulator\n"), false;
    ROBOT_StartPolling(robot);
    Counts c;
    long nextDrop = commands / 2, drops = 0;
    const DWORD t0 = GetTickCount();
    RunPhase(robot, commands, o.timeoutMs, c, [&](long done) {
        if (done >= nextDrop) sim.CloseConnection(), ++drops, nextDrop += 2500;
    });
    EndRobot(robot);
    ReleaseTcpPort(tcp);
    if (report) {
        Report("TCP", c, static_cast<long long>(sim.FaultsFired()), GetTickCount() - t0);
        std::printf("  connections dropped %ld, made %zu\n", drops, sim.Connections());
    }
    return c.Clean() && (!report || drops > 0);
}

bool FtdiPhase(const Options& o, long commands, const std::string& log, bool report) {
    using vxt::ftdi::Control;
    const std::string random = "random " + std::to_string(o.seed) + " " + kFtdiFaults;
    if (!vxt::ftdi::Reset() || Control(random) != 0)
        return std::printf("soak: the simulated FTDI device refused %s\n", random.c_str()), false;
    ROBOT_HANDLE robot = StartRobot(o, log);
    PORT_HANDLE ftdi = ROBOT_AttachFTDIDeviceByIndex(robot, 0);
    if (!ftdi) return ROBOT_Destroy(robot), std::printf("soak: no simulated FTDI device\n"), false;
    ROBOT_StartPolling(robot);
    Counts c;
    bool vanished = false;
    const DWORD t0 = GetTickCount();
    RunPhase(robot, commands, o.timeoutMs, c, [&](long done) {
        if (!vanished && done >= commands / 2) vanished = Control("vanish 500") == 0;  // gone, then back
    });
    EndRobot(robot);
    const long long fired = vxt::ftdi::Query("faultsfired"), ioErrors = vxt::ftdi::Query("ioerrors");
    Control("nofaults");
    ReleaseFTDIDevice(ftdi);
    if (report) {
        Report("FTDI", c, fired, GetTickCount() - t0);
        std::printf("  input/output errors %lld, device vanished once for 500 ms\n", ioErrors);
    }
    return c.Clean();
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--commands")) o.commands = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--ftdi-commands")) o.ftdiCommands = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed")) o.seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--timeout")) o.timeoutMs = static_cast<unsigned>(std::atol(argv[i + 1]));
    }
    const std::string log = vxt::TempPath("soak.log");
    // The D2XX library stays loaded for the whole run, as in a host that
    // talks to FTDI devices all day.
    vxt::ftdi::Query("devices");
    // A short round of both first: what is made once per process (socket
    // layer, application object, heap growth to its working size) then
    // does not count as growth.
    bool ok = TcpPhase(o, 60, log, false);
    if (o.ftdiCommands > 0) ok = FtdiPhase(o, 30, log, false) && ok;
    const Figures start = Measure();
    ok = TcpPhase(o, o.commands, log, true) && ok;
    if (o.ftdiCommands > 0) ok = FtdiPhase(o, o.ftdiCommands, log, true) && ok;
    const Figures end = Measure();
    std::printf("handles %lu -> %lu, private bytes %llu -> %llu\n", start.handles, end.handles, start.privateBytes,
                end.privateBytes);
    // Flat: a few handles of slack for the system's caches, and 4 MiB of
    // private bytes, against hundreds of commands' worth of growth.
    const bool flat = end.handles <= start.handles + 4 && end.privateBytes <= start.privateBytes + (4u << 20);
    if (!flat) std::printf("soak: the handle count or private bytes grew\n");
    DeleteFileA(log.c_str());
    std::printf("%s\n", ok && flat ? "soak passed" : "soak FAILED");
    return ok && flat ? 0 : 1;
}
