// Round trips and idle cost of the link on each port kind, as a host sees
// them: commands through the exports against the simulator (unpaced), the
// time from issuing to the reply being returned, and the CPU seconds the
// whole process spends. Prints one table row per port kind.
//
// Usage: bench_link [--round-trips N] [--idle-seconds S] [--com N --com-bridge PORT]
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/server/sim_server.h"
#include "support/vornex_host.h"

namespace {

typedef void*(__stdcall* AttachTcpFn)(void*, const wchar_t*, unsigned, unsigned);
typedef void*(__stdcall* AttachSerialFn)(void*, int);
typedef void*(__stdcall* AttachFtdiIndexFn)(void*, unsigned long);
typedef bool(__stdcall* ReleaseFn)(void*);
typedef long(__stdcall* WaitBytesFn)(void*, long, unsigned long, SAFEARRAY**);

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& f) {
        return (static_cast<double>(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Row {
    std::string port;
    int done = 0;
    double perSecond = 0, medianMs = 0, p99Ms = 0, cpuPerThousand = 0, idleCpuPerMinute = 0;
};

class Bench {
public:
    Bench() : m_attachTcp(m_host.Export<AttachTcpFn>("ROBOT_AttachTcpPort")),
              m_attachSerial(m_host.Export<AttachSerialFn>("ROBOT_AttachSerialPort")),
              m_attachFtdi(m_host.Export<AttachFtdiIndexFn>("ROBOT_AttachFTDIDeviceByIndex")),
              m_releaseTcp(m_host.Export<ReleaseFn>("ReleaseTcpPort")),
              m_releaseSerial(m_host.Export<ReleaseFn>("ReleaseSerialPort")),
              m_releaseFtdi(m_host.Export<ReleaseFn>("ReleaseFTDIDevice")),
              m_waitBytes(m_host.Export<WaitBytesFn>("ROBOT_WaitReplyBytes")) {}

    Row Measure(const std::string& kind, int roundTrips, int idleSeconds, int com, int comBridge) {
        Row row;
        row.port = kind;
        vxsim::SimServer sim;
        void* robot = m_host.Create();
        void* port = nullptr;
        if (kind == "TCP") {
            const int tcp = sim.ListenTcp();
            port = m_attachTcp(robot, L"127.0.0.1", static_cast<unsigned>(tcp), 5000);
        } else if (kind == "COM") {
            if (sim.ConnectTcp("127.0.0.1", comBridge, 5000)) port = m_attachSerial(robot, com);
        } else {
            wchar_t exe[MAX_PATH];
            GetModuleFileNameW(nullptr, exe, MAX_PATH);
            std::wstring folder(exe);
            SetDllDirectoryW((folder.substr(0, folder.find_last_of(L"\\/")) + L"\\ftdisim").c_str());
            port = m_attachFtdi(robot, 0);
            SetDllDirectoryW(nullptr);
        }
        if (!port) {
            std::fprintf(stderr, "bench: no %s link\n", kind.c_str());
            m_host.Destroy(robot);
            return row;
        }
        m_host.StartPolling(robot);
        const bool tcp = kind == "TCP";
        std::vector<double> ms;
        const double cpu0 = ProcessCpuSeconds();
        const double t0 = Now();
        for (int i = 0; i < roundTrips; ++i) {
            const double s = Now();
            const long id = m_host.SendCommand(robot, L"a1b2c3d4");
            bool complete = false;
            if (tcp) {
                SAFEARRAY* reply = nullptr;
                complete = m_waitBytes(robot, id, 5000, &reply) > 0;
                if (reply) SafeArrayDestroy(reply);
            } else {
                CRobotCommand* record = m_host.WaitReply(robot, id, 5000);
                complete = record && record->IsReplyComplete();
            }
            ms.push_back((Now() - s) * 1000.0);
            m_host.DeleteReply(robot, id);
            if (complete) ++row.done;
        }
        const double elapsed = Now() - t0;
        const double cpu = ProcessCpuSeconds() - cpu0;
        std::sort(ms.begin(), ms.end());
        row.perSecond = roundTrips / elapsed;
        row.medianMs = ms[ms.size() / 2];
        row.p99Ms = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
        row.cpuPerThousand = cpu * 1000.0 / roundTrips;

        // Idle: polling with nothing to send; the TCP host keeps pumping.
        const double idle0 = ProcessCpuSeconds();
        const DWORD until = GetTickCount() + static_cast<DWORD>(idleSeconds) * 1000;
        while (static_cast<LONG>(until - GetTickCount()) > 0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        }
        row.idleCpuPerMinute = (ProcessCpuSeconds() - idle0) * 60.0 / idleSeconds;

        m_host.StopPolling(robot);
        m_host.Destroy(robot);
        if (kind == "TCP") m_releaseTcp(port);
        else if (kind == "COM") m_releaseSerial(port);
        else m_releaseFtdi(port);
        return row;
    }

private:
    VornexHost m_host;
    AttachTcpFn m_attachTcp;
    AttachSerialFn m_attachSerial;
    AttachFtdiIndexFn m_attachFtdi;
    ReleaseFn m_releaseTcp, m_releaseSerial, m_releaseFtdi;
    WaitBytesFn m_waitBytes;
};

} // namespace

int main(int argc, char** argv) {
    int roundTrips = 1000, idleSeconds = 10, com = 0, comBridge = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--round-trips")) roundTrips = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--com")) com = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--com-bridge")) comBridge = std::atoi(argv[i + 1]);
    }
    Bench bench;
    std::printf("| port | round trips | per second | median ms | p99 ms | CPU s per 1000 | idle CPU s per minute |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::vector<std::string> kinds = {"TCP", "FTDI"};
    if (com > 0) kinds.insert(kinds.begin() + 1, "COM");
    for (const std::string& kind : kinds) {
        const Row r = bench.Measure(kind, roundTrips, idleSeconds, com, comBridge);
        std::printf("| %s | %d/%d | %.0f | %.2f | %.2f | %.3f | %.3f |\n", r.port.c_str(), r.done, roundTrips,
                    r.perSecond, r.medianMs, r.p99Ms, r.cpuPerThousand, r.idleCpuPerMinute);
        std::fflush(stdout);
    }
    return 0;
}
