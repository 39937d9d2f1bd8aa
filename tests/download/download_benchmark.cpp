// Download speed, printed, never asserted.
//  1. The simulated FTDI device pacing at the link rate: pages a second for
//     2000 pages at 38400, 115200 and 230400, and that as a fraction of the
//     wire limit (rate / 10 / 272 pages a second).
//  2. TCP loopback, unpaced, with the tool in a process of its own
//     (vornex-sim.exe): pages a second and CPU seconds of this, the host's,
//     process per 1000 pages.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "download_rig.h"

namespace {

constexpr long kPages = 2000;
constexpr long kTimeoutMs = 3000;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto toSeconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return toSeconds(kernel) + toSeconds(user);
}

// Rows downloaded and the wall-clock seconds it took.
long TimedDownload(Robot robot, long rate, double& seconds) {
    PageListArray list({{0, kPages}});
    SAFEARRAY* out = nullptr;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const long rows = Exports().ReadToolMemorySA(robot, list.get(), rate, kTimeoutMs, 1, &out);
    QueryPerformanceCounter(&end);
    if (out) SafeArrayDestroy(out);
    seconds = Seconds(start, end);
    return rows;
}

void FtdiPaced() {
    ToolLink link(LinkKind::Ftdi);
    if (!link.Ready()) {
        std::printf("ftdi: the simulated device could not be attached\n");
        return;
    }
    ftdisim::Control("pacing on");
    std::printf("Simulated FTDI device, paced at the link rate, %ld pages:\n", kPages);
    std::printf("  %8s %8s %9s %12s %12s\n", "rate", "rows", "seconds", "pages/s", "of limit");
    for (long rate : {38400L, 115200L, 230400L}) {
        double seconds = 0;
        const long rows = TimedDownload(link.robot(), rate, seconds);
        const double pagesPerSecond = rows > 0 ? rows / seconds : 0;
        const double limit = rate / 10.0 / 272.0;
        std::printf("  %8ld %8ld %9.2f %12.1f %11.1f%%\n", rate, rows, seconds, pagesPerSecond,
                    100.0 * pagesPerSecond / limit);
        std::fflush(stdout);
    }
}

void TcpUnpaced() {
    const int port = 47019;
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder = folder.substr(0, folder.find_last_of(L"\\/"));
    std::wstring command = L"\"" + folder + L"\\vornex-sim.exe\" --tcp " + std::to_wstring(port) + L" --quiet";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION sim = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &sim)) {
        std::printf("tcp: vornex-sim.exe did not start\n");
        return;
    }
    Robot robot = Host().Create();
    Port tcp = nullptr;
    for (int attempt = 0; attempt < 20 && !tcp; ++attempt) {
        tcp = Exports().AttachTcpPort(robot, L"127.0.0.1", port, 1000);
        if (!tcp) Sleep(250);
    }
    if (tcp) {
        Host().StartPolling(robot);
        std::printf("TCP loopback, unpaced, tool in its own process, %ld pages:\n", kPages);
        std::printf("  %8s %9s %12s %22s\n", "rows", "seconds", "pages/s", "host CPU s / 1000 pages");
        for (int round = 0; round < 3; ++round) {
            double seconds = 0;
            const double cpuBefore = ProcessCpuSeconds();
            const long rows = TimedDownload(robot, 38400, seconds);
            const double cpu = ProcessCpuSeconds() - cpuBefore;
            std::printf("  %8ld %9.2f %12.1f %22.3f\n", rows, seconds, rows > 0 ? rows / seconds : 0.0,
                        rows > 0 ? cpu * 1000.0 / rows : 0.0);
            std::fflush(stdout);
        }
        Host().StopPolling(robot);
    } else {
        std::printf("tcp: could not connect to vornex-sim on port %d\n", port);
    }
    Host().Destroy(robot);
    if (tcp) Exports().ReleaseTcpPort(tcp);
    TerminateProcess(sim.hProcess, 0);
    WaitForSingleObject(sim.hProcess, 5000);
    CloseHandle(sim.hThread);
    CloseHandle(sim.hProcess);
}

} // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "ftdi") FtdiPaced();
    if (only.empty() || only == "tcp") TcpUnpaced();
    return 0;
}
