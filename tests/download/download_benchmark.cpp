// Download speed, printed, never asserted: the simulated FTDI device pacing
// at the link rate (pages a second for 2000 pages at 38400, 115200 and
// 230400, and that as a share of the wire limit, rate / 10 / 272), then TCP
// loopback unpaced with the tool in a process of its own (vornex-sim.exe):
// pages a second and this process's CPU seconds per 1000 pages.
#include <cstdio>

#include "support/process.h"
#include "support/vornex_test.h"

using namespace vxt;

namespace {

constexpr long kPages = 2000;

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

// Rows downloaded, with the wall-clock and CPU seconds it took.
long Timed(ROBOT_HANDLE robot, long rate, double& seconds, double& cpu) {
    Array pages(Matrix(VT_I4, 1, 2, {0, kPages})), out;
    const DWORD start = GetTickCount();
    const double cpuStart = CpuSeconds();
    const long rows = ROBOT_ReadToolMemory(robot, pages.out(), rate, 3000, 1, out.out());
    seconds = (GetTickCount() - start) / 1000.0;
    cpu = CpuSeconds() - cpuStart;
    return rows;
}

} // namespace

int main() {
    {
        Rig rig(PortKind::Ftdi);
        ftdi::Control("pacing=on");
        std::printf("Simulated FTDI device, paced, %ld pages:\n  %8s %8s %9s %10s %9s\n", kPages, "rate", "rows",
                    "seconds", "pages/s", "of limit");
        for (long rate : {38400L, 115200L, 230400L}) {
            double seconds = 0, cpu = 0;
            const long rows = rig.Attached() ? Timed(rig.robot(), rate, seconds, cpu) : 0;
            const double speed = rows > 0 ? rows / seconds : 0;
            std::printf("  %8ld %8ld %9.2f %10.1f %8.1f%%\n", rate, rows, seconds, speed, 100 * speed / (rate / 2720.0));
        }
    }
    vxproc::Child sim(L"vornex-sim.exe", L"--tcp 47019 --quiet");
    ROBOT_HANDLE robot = ROBOT_Create();
    PORT_HANDLE tcp = nullptr;
    for (int i = 0; i < 20 && !tcp; ++i)
        if (!(tcp = ROBOT_AttachTcpPort(robot, L"127.0.0.1", 47019, 1000))) Sleep(250);
    ROBOT_StartPolling(robot);
    std::printf("TCP loopback, unpaced, tool in its own process, %ld pages:\n  %8s %9s %10s %16s\n", kPages, "rows",
                "seconds", "pages/s", "CPU s/1000 pages");
    for (int round = 0; round < 3 && tcp; ++round) {
        double seconds = 0, cpu = 0;
        const long rows = Timed(robot, 38400, seconds, cpu);
        std::printf("  %8ld %9.2f %10.1f %16.3f\n", rows, seconds, rows > 0 ? rows / seconds : 0,
                    rows > 0 ? cpu * 1000 / rows : 0);
    }
    ROBOT_StopPolling(robot);
    ROBOT_Destroy(robot);
    if (tcp) ReleaseTcpPort(tcp);
    return 0;
}
