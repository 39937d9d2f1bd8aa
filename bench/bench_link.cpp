// Round trips and idle cost of the link on each port kind, as a host sees
// them: 8-byte commands through the exports against the unpaced simulator,
// the time from issuing to the reply being returned, and on TCP and COM a
// bare client (blocking Winsock; WriteFile/ReadFile on the COM port) on the
// same link in the same run. Idle: the CPU of the library's own threads while
// a robot polls with nothing to send. Prints figures only.
//
// Usage: bench_link [--round-trips N] [--runs R] [--idle-seconds S] [--com N --com-bridge PORT]
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "protocol/command_frame.h"
#include "sim/server/sim_server.h"
#include "bench/bench_clock.h"
#include "vornex.h"

namespace {

double Seconds(const FILETIME& kernel, const FILETIME& user) {
    auto s = [](const FILETIME& t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return s(kernel) + s(user);
}

double ProcessCpu() {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return Seconds(k, u);
}

std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t;
    std::memset(&t, 0, sizeof t);
    t.dwSize = sizeof t;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(t.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

double ThreadsCpu(const std::vector<DWORD>& ids) {
    double sum = 0;
    for (DWORD id : ids) {
        HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        FILETIME c, e, k, u;
        if (h && GetThreadTimes(h, &c, &e, &k, &u)) sum += Seconds(k, u);
        if (h) CloseHandle(h);
    }
    return sum;
}

struct Stats {
    int done = 0, n = 0;
    double perSecond = 0, median = 0, p99 = 0, max = 0, cpuPer1000 = 0;
};

// Times n calls of one round trip (true when it got its reply).
Stats Measure(int n, const std::function<bool()>& roundTrip) {
    Stats s;
    s.n = n;
    std::vector<double> ms;
    const double cpu0 = ProcessCpu(), t0 = Now();
    for (int i = 0; i < n; ++i) {
        const double start = Now();
        if (roundTrip()) ++s.done;
        ms.push_back((Now() - start) * 1000.0);
    }
    const double elapsed = Now() - t0;
    s.cpuPer1000 = (ProcessCpu() - cpu0) * 1000.0 / n;
    std::sort(ms.begin(), ms.end());
    s.perSecond = n / elapsed;
    s.median = ms[ms.size() / 2];
    s.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    s.max = ms.back();
    return s;
}

const std::vector<unsigned char> kFrame = EncodeCommand(L"a1b2c3d4", 8, false, false);

bool BareTcp(SOCKET s) {
    if (send(s, reinterpret_cast<const char*>(kFrame.data()), static_cast<int>(kFrame.size()), 0) <= 0) return false;
    char in[64];
    for (size_t got = 0; got < kFrame.size();) {
        const int r = recv(s, in, static_cast<int>(kFrame.size() - got), 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool BareCom(HANDLE port) {
    DWORD n = 0;
    if (!WriteFile(port, kFrame.data(), static_cast<DWORD>(kFrame.size()), &n, nullptr)) return false;
    unsigned char in[64];
    for (DWORD got = 0; got < kFrame.size(); got += n)
        if (!ReadFile(port, in, static_cast<DWORD>(kFrame.size()) - got, &n, nullptr) || n == 0) return false;
    return true;
}

struct Row {
    std::string kind;
    Stats vx, bare;
    bool haveBare = false;
    double idleLibrary = -1, idleHost = -1;
    int libraryThreads = 0;
};

struct Options {
    int roundTrips = 1000, runs = 3, idleSeconds = 10, com = 0, comBridge = 0;
};

std::wstring BinFolder() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

Row Run(const std::string& kind, const Options& o, bool idle) {
    Row row;
    row.kind = kind;
    vxsim::SimServer sim;
    int tcpPort = 0;
    if (kind == "TCP") {
        tcpPort = sim.ListenTcp();
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(tcpPort));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            row.bare = Measure(o.roundTrips, [&] { return BareTcp(s); });
            row.haveBare = true;
        }
        closesocket(s);
    } else if (kind == "COM") {
        if (!sim.ConnectTcp("127.0.0.1", o.comBridge, 5000)) return row;
        const std::wstring name = L"\\\\.\\COM" + std::to_wstring(o.com);
        HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (port != INVALID_HANDLE_VALUE) {
            DCB dcb;
            std::memset(&dcb, 0, sizeof dcb);
            dcb.DCBlength = sizeof dcb;
            GetCommState(port, &dcb);
            dcb.BaudRate = 38400, dcb.ByteSize = 8, dcb.Parity = NOPARITY, dcb.StopBits = ONESTOPBIT;
            SetCommState(port, &dcb);
            COMMTIMEOUTS t = {0, 0, 5000, 0, 5000};
            SetCommTimeouts(port, &t);
            PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
            row.bare = Measure(o.roundTrips, [&] { return BareCom(port); });
            row.haveBare = true;
            CloseHandle(port);
        }
    }

    ROBOT_HANDLE robot = ROBOT_Create();
    std::set<DWORD> before = ThreadsOfThisProcess();  // the COM port's worker starts at attach
    PORT_HANDLE port = nullptr;
    if (kind == "TCP") {
        port = ROBOT_AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned>(tcpPort), 5000);
    } else if (kind == "COM") {
        port = ROBOT_AttachSerialPort(robot, o.com);
    } else {
        SetDllDirectoryW((BinFolder() + L"\\ftdisim").c_str());
        port = ROBOT_AttachFTDIDeviceByIndex(robot, 0);
        SetDllDirectoryW(nullptr);
        before = ThreadsOfThisProcess();  // the simulated driver's own thread is not the library's
    }
    if (!port) {
        std::fprintf(stderr, "bench: no %s link\n", kind.c_str());
        ROBOT_Destroy(robot);
        return row;
    }
    ROBOT_StartPolling(robot);
    row.vx = Measure(o.roundTrips, [&] {
        const long id = ROBOT_SendCommand(robot, L"a1b2c3d4");
        SAFEARRAY* reply = nullptr;
        const bool ok = ROBOT_WaitReplyBytes(robot, id, 5000, &reply) == static_cast<long>(kFrame.size());
        if (reply) SafeArrayDestroy(reply);
        ROBOT_DeleteReply(robot, id);
        return ok;
    });

    if (idle) {
        std::vector<DWORD> library;
        for (DWORD id : ThreadsOfThisProcess())
            if (!before.count(id) && id != GetCurrentThreadId()) library.push_back(id);
        row.libraryThreads = static_cast<int>(library.size());
        const std::vector<DWORD> host = {GetCurrentThreadId()};
        const double lib0 = ThreadsCpu(library), host0 = ThreadsCpu(host), t0 = Now();
        while (Now() - t0 < o.idleSeconds) {  // the host's own loop: messages, nothing else
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        }
        const double span = Now() - t0;
        row.idleLibrary = (ThreadsCpu(library) - lib0) * 100.0 / span;
        row.idleHost = (ThreadsCpu(host) - host0) * 100.0 / span;
    }
    ROBOT_StopPolling(robot);
    ROBOT_Destroy(robot);
    if (kind == "TCP") ReleaseTcpPort(port);
    else if (kind == "COM") ReleaseSerialPort(port);
    else ReleaseFTDIDevice(port);
    return row;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int v = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--round-trips")) o.roundTrips = v;
        else if (!std::strcmp(argv[i], "--runs")) o.runs = v;
        else if (!std::strcmp(argv[i], "--idle-seconds")) o.idleSeconds = v;
        else if (!std::strcmp(argv[i], "--com")) o.com = v;
        else if (!std::strcmp(argv[i], "--com-bridge")) o.comBridge = v;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    std::vector<std::string> kinds = {"TCP", "FTDI"};
    if (o.com > 0) kinds.insert(kinds.begin() + 1, "COM");

    std::printf("Round trips, %d per run, vornex and a bare client alternating on the same link; ms.\n\n", o.roundTrips);
    std::printf("| port | run | vornex /s | median | p99 | max | CPU s/1000 | bare /s | bare median | bare p99 | "
                "bare max | median ratio |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<Row> idle;
    for (int run = 1; run <= o.runs; ++run) {
        for (const std::string& kind : kinds) {
            const Row r = Run(kind, o, run == o.runs);
            if (run == o.runs) idle.push_back(r);
            std::printf("| %s | %d | %.0f | %.2f | %.2f | %.2f | %.3f |", r.kind.c_str(), run, r.vx.perSecond,
                        r.vx.median, r.vx.p99, r.vx.max, r.vx.cpuPer1000);
            if (r.haveBare)
                std::printf(" %.0f | %.2f | %.2f | %.2f | %.2f |\n", r.bare.perSecond, r.bare.median, r.bare.p99,
                            r.bare.max, r.bare.median > 0 ? r.vx.median / r.bare.median : 0.0);
            else
                std::printf(" - | - | - | - | - |\n");
            if (r.vx.done != r.vx.n || (r.haveBare && r.bare.done != r.bare.n))
                std::printf("(%s: %d/%d vornex, %d/%d bare round trips answered)\n", r.kind.c_str(), r.vx.done,
                            r.vx.n, r.bare.done, r.bare.n);
            std::fflush(stdout);
        }
    }
    std::printf("\nIdle, %d s polling with nothing to send: CPU of the library's own threads (the robot's worker; "
                "on COM also the port's worker, which spins by design) and of the host's message loop, %% of one "
                "core.\n\n| port | library threads | library CPU %% | host loop CPU %% |\n|---|---|---|---|\n",
                o.idleSeconds);
    for (const Row& r : idle)
        std::printf("| %s | %d | %.2f | %.2f |\n", r.kind.c_str(), r.libraryThreads, r.idleLibrary, r.idleHost);
    WSACleanup();
    return 0;
}
