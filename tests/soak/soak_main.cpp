// Soak: commands from four host threads at once through the exports, against
// the simulator injecting random faults (no reply, bad CRC, garbage, split
// frames, replies after the time limit), with the TCP connection dropped
// every few thousand commands, then the same over the simulated FTDI device
// with input/output errors and a device that disappears and comes back.
// Every command must end exactly once, complete with its own reply or
// abandoned; handle count and private bytes must stay flat.
//
// Usage: soak_test [--commands N] [--ftdi-commands N] [--seed S] [--timeout MS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/server/sim_server.h"
#include "soak_stats.h"
#include "support/vornex_host.h"

namespace {

constexpr int kHostThreads = 4;
// "Reply after the time limit": delays of 700 to 1000 ms against a 400 ms
// limit. The frames carry no command ID, so a reply that comes on the edge of
// the limit, just after the host gave up, could only be taken for the next
// command's; the limit stays well clear of the loaded machine's slowest
// ordinary replies and the late ones come well after it.
const char* kTcpFaults = "noreply=0.05 badcrc=0.05 garbage=0.05/40 split=0.05/4 delay=0.05/700-1000";
const char* kFtdiFaults = "noreply=0.03 badcrc=0.03 ioerror=0.01";

struct Options {
    long commands = 20000;
    long ftdiCommands = 2000;
    uint64_t seed = 1;
    unsigned timeoutMs = 400;
};

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--commands")) o.commands = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--ftdi-commands")) o.ftdiCommands = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed")) o.seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--timeout")) o.timeoutMs = static_cast<unsigned>(std::atol(argv[i + 1]));
    }
    return o;
}

typedef void*(__stdcall* AttachTcpFn)(void*, const wchar_t*, unsigned, unsigned);
typedef bool(__stdcall* ReleaseFn)(void*);
typedef void*(__stdcall* AttachFtdiIndexFn)(void*, unsigned long);

// The payload a command carries and its echo must carry back: unique per
// command, a multiple of four hex digits.
std::wstring PayloadText(int thread, long sequence) {
    wchar_t text[32];
    std::swprintf(text, 32, L"5a%02x%08lx", thread, static_cast<unsigned long>(sequence));
    return text;
}

std::string PayloadBytes(const std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<char>(std::wcstol(text.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

// What the host threads of one phase share, under one lock.
struct PhaseShared {
    std::mutex lock;
    std::set<long> ids;
    std::set<std::wstring> abandoned;    // payload texts of abandoned commands
    std::vector<std::wstring> misfiled;  // payload texts of replies filed under another command
};

std::wstring HexOf(const char* bytes, int count) {
    std::wstring text;
    wchar_t hex[4];
    for (int i = 0; i < count; ++i) {
        std::swprintf(hex, 4, L"%02x", static_cast<unsigned char>(bytes[i]));
        text += hex;
    }
    return text;
}

// One host thread: issue, wait, check, delete, for its share of commands.
void HostThread(VornexHost& host, void* robot, int thread, long first, long count, unsigned timeoutMs,
                SoakCounts& counts, PhaseShared& shared) {
    for (long n = 0; n < count; ++n) {
        const std::wstring text = PayloadText(thread, first + n);
        const long id = host.SendCommand(robot, text.c_str());
        ++counts.issued;
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            if (id == 0 || !shared.ids.insert(id).second) ++counts.duplicated;
        }
        CRobotCommand* record = nullptr;
        bool ended = false;
        const DWORD start = GetTickCount();
        while (!ended && GetTickCount() - start < 60000) {
            record = host.WaitReply(robot, id, timeoutMs);
            if (record) {
                ended = true;
            } else {
                record = host.GetReply(robot, id);
                ended = record && record->IsAbandoned();
            }
        }
        if (!ended) {
            ++counts.lost;
            continue;
        }
        if (record->IsReplyComplete()) {
            ++counts.complete;
            const std::string expected = PayloadBytes(text);
            const int size = record->GetReplySize();
            if (size != static_cast<int>(expected.size()) + 8 ||
                std::memcmp(record->GetReplyData() + 4, expected.data(), expected.size()) != 0) {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.misfiled.push_back(size > 8 ? HexOf(record->GetReplyData() + 4, size - 8) : L"");
            }
        } else if (record->IsAbandoned()) {
            ++counts.abandoned;
            std::lock_guard<std::mutex> hold(shared.lock);
            shared.abandoned.insert(text);
        } else {
            ++counts.failed;
        }
        if (!host.DeleteReply(robot, id)) ++counts.failed;
        if (host.DeleteReply(robot, id)) ++counts.duplicated;
    }
}

// Runs total commands over an attached robot from four threads while this
// thread keeps messages flowing and a fifth thread reads the log size.
void RunPhase(VornexHost& host, void* robot, long total, unsigned timeoutMs, const std::string& logPath,
              SoakCounts& counts, const std::function<void(long done)>& everyCycle, ProcessFigures& middle) {
    PhaseShared shared;
    std::vector<std::thread> threads;
    std::atomic<int> finished{0};
    const long share = total / kHostThreads;
    for (int t = 0; t < kHostThreads; ++t)
        threads.emplace_back([&, t] {
            HostThread(host, robot, t, t * share, share, timeoutMs, counts, shared);
            ++finished;
        });
    std::atomic<bool> done{false};
    std::atomic<long> logReads{0};
    std::thread logReader([&] {
        while (!done) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExA(logPath.c_str(), GetFileExInfoStandard, &data)) ++logReads;
            Sleep(5);
        }
    });
    bool middleTaken = false;
    const long startIssued = counts.issued;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        const long doneNow = counts.complete + counts.abandoned + counts.lost + counts.failed;
        everyCycle(doneNow);
        if (!middleTaken && counts.issued - startIssued >= total / 2) {
            middle = MeasureProcess();
            middleTaken = true;
        }
        if (finished == kHostThreads) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    for (auto& t : threads) t.join();
    done = true;
    logReader.join();
    // Frames carry no command ID: the answer to an abandoned command that
    // comes just as the next command goes out can only be taken for that
    // one. Such a reply is told apart from a real mix-up (a reply of a
    // command that completed, or of no command at all).
    for (const std::wstring& payload : shared.misfiled) {
        if (shared.abandoned.count(payload)) ++counts.lateTaken;
        else ++counts.misfiled;
        if (counts.misfiled + counts.lateTaken <= 5) std::printf("  reply %ls filed under another command\n", payload.c_str());
    }
    std::printf("  log size read %ld times while the commands ran\n", logReads.load());
}

void Report(const char* phase, const SoakCounts& c, long faults) {
    std::printf("%s: %ld commands, %ld faults injected, %ld complete, %ld abandoned, lost %ld, duplicated %ld, "
                "misfiled %ld, late replies taken for the next command %ld, failed %ld\n",
                phase, c.issued.load(), faults, c.complete.load(), c.abandoned.load(), c.lost.load(),
                c.duplicated.load(), c.misfiled.load(), c.lateTaken.load(), c.failed.load());
}

bool Clean(const SoakCounts& c) {
    return c.lost == 0 && c.duplicated == 0 && c.misfiled == 0 && c.failed == 0 &&
           c.complete + c.abandoned == c.issued;
}

// One phase over TCP: the simulator on loopback with random faults.
bool RunTcpPhase(VornexHost& host, const Options& options, long commands, const std::string& logPath, bool report,
                 ProcessFigures& middle) {
    auto attachTcp = host.Export<AttachTcpFn>("ROBOT_AttachTcpPort");
    auto releaseTcp = host.Export<ReleaseFn>("ReleaseTcpPort");
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    std::string error;
    if (!sim.SetRandomFaults(options.seed, kTcpFaults, &error)) {
        std::printf("soak: bad fault chances: %s\n", error.c_str());
        return false;
    }
    void* robot = host.Create();
    host.SetTimeout(robot, options.timeoutMs);
    host.StartLogging(robot, logPath.c_str());
    void* tcp = attachTcp(robot, L"127.0.0.1", static_cast<unsigned>(port), 5000);
    if (!tcp) {
        std::printf("soak: no TCP link to the simulator\n");
        host.Destroy(robot);
        return false;
    }
    host.StartPolling(robot);
    SoakCounts counts;
    long nextDrop = 1000;  // then every 2500
    long drops = 0;
    const DWORD t0 = GetTickCount();
    RunPhase(host, robot, commands, options.timeoutMs, logPath, counts,
             [&](long done) {
                 if (done >= nextDrop) {
                     sim.CloseConnection();
                     ++drops;
                     nextDrop += 2500;
                 }
             },
             middle);
    const DWORD elapsed = GetTickCount() - t0;
    host.StopPolling(robot);
    host.Destroy(robot);
    releaseTcp(tcp);
    if (report) {
        Report("TCP", counts, static_cast<long>(sim.FaultsFired()));
        std::printf("  connections dropped %ld, made %zu; %.1f s\n", drops, sim.Connections(), elapsed / 1000.0);
    }
    return Clean(counts);
}

// One phase over the simulated FTDI device: input/output errors, and the
// device gone for half a second halfway through.
bool RunFtdiPhase(VornexHost& host, const Options& options, long commands, const std::string& logPath, bool report) {
    auto attachFtdi = host.Export<AttachFtdiIndexFn>("ROBOT_AttachFTDIDeviceByIndex");
    auto releaseFtdi = host.Export<ReleaseFn>("ReleaseFTDIDevice");
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder = folder.substr(0, folder.find_last_of(L"\\/")) + L"\\ftdisim";
    SetDllDirectoryW(folder.c_str());
    void* robot = host.Create();
    host.SetTimeout(robot, options.timeoutMs);
    host.StartLogging(robot, logPath.c_str());
    void* ftdi = attachFtdi(robot, 0);
    SetDllDirectoryW(nullptr);
    if (!ftdi) {
        std::printf("soak: no simulated FTDI device\n");
        host.Destroy(robot);
        return false;
    }
    HMODULE simDll = GetModuleHandleW(L"Ftd2xx.dll");
    auto control = reinterpret_cast<int(__stdcall*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(simDll, "SIM_Control")));
    auto query = reinterpret_cast<long long(__stdcall*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(simDll, "SIM_Query")));
    const std::string random = std::string("random ") + std::to_string(options.seed) + " " + kFtdiFaults;
    if (!control || control("reset") != 0 || control(random.c_str()) != 0) {
        std::printf("soak: the simulated FTDI device refused: %s\n", random.c_str());
        host.Destroy(robot);
        releaseFtdi(ftdi);
        return false;
    }
    host.StartPolling(robot);
    SoakCounts counts;
    bool vanished = false;
    ProcessFigures ignored{};
    RunPhase(host, robot, commands, options.timeoutMs, logPath, counts,
             [&](long done) {
                 if (!vanished && done >= commands / 2) {
                     control("vanish 500");  // gone for half a second, then back
                     vanished = true;
                 }
             },
             ignored);
    host.StopPolling(robot);
    host.Destroy(robot);
    const long long ioErrors = query ? query("ioerrors") : -1;
    const long long fired = query ? query("faultsfired") : -1;
    control("nofaults");
    releaseFtdi(ftdi);
    if (report) {
        Report("FTDI", counts, static_cast<long>(fired));
        std::printf("  input/output errors %lld, device vanished once for 500 ms\n", ioErrors);
    }
    return Clean(counts);
}

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    VornexHost host;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string logPath = std::string(temp) + "vornex-soak-" + std::to_string(GetCurrentProcessId()) + ".log";

    // The host keeps the D2XX library loaded for the whole run, as a host
    // that talks to FTDI devices all day does; every port then shares it.
    {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring folder(exe);
        SetDllDirectoryW((folder.substr(0, folder.find_last_of(L"\\/")) + L"\\ftdisim").c_str());
        LoadLibraryW(L"Ftd2xx.dll");
        SetDllDirectoryW(nullptr);
    }
    // A short round of both phases first: what is made once per process
    // (socket layer, application object, the simulated FTDI library's own
    // state, heap growth to its working size) then does not count as growth.
    ProcessFigures unused{};
    bool ok = RunTcpPhase(host, options, 200, logPath, false, unused);
    if (options.ftdiCommands > 0) ok = RunFtdiPhase(host, options, 100, logPath, false) && ok;
    const ProcessFigures start = MeasureProcess();
    ProcessFigures middle = start;

    ok = RunTcpPhase(host, options, options.commands, logPath, true, middle) && ok;
    std::printf("%s\n", FormatFigures("after TCP", MeasureProcess()).c_str());
    if (options.ftdiCommands > 0) ok = RunFtdiPhase(host, options, options.ftdiCommands, logPath, true) && ok;

    const ProcessFigures end = MeasureProcess();
    std::printf("%s\n%s\n%s\n", FormatFigures("start", start).c_str(), FormatFigures("middle", middle).c_str(),
                FormatFigures("end", end).c_str());
    // Flat: a few handles of slack for the system's own caches, and 4 MiB
    // of private bytes, against thousands of commands' worth of growth.
    const bool flat = end.handles <= start.handles + 4 && end.privateBytes <= start.privateBytes + (4u << 20);
    if (!flat) std::printf("soak: the handle count or private bytes grew\n");
    DeleteFileA(logPath.c_str());
    const bool passed = ok && flat;
    std::printf("%d passed, %d failed\n", passed ? 1 : 0, passed ? 0 : 1);
    return passed ? 0 : 1;
}
