// Download speed on the simulated FTDI device pacing at the link rate: pages
// a second as a share of the wire limit (rate / 10 / 272 pages a second), and
// the gap between the last page of one 64-page request and the first page of
// the next, split into its steps. The steps are stamped by a watcher thread
// that follows the robot's log and the device's count of frames delivered, so
// each is good to about a millisecond. Prints figures only.
//
// Usage: bench_download [--pages N] [--csv FILE]   pages at 230400 (1536 by
// default); the slower rates get their share, so that each rate runs about as
// long. FILE receives the throughput of each rate beside its wire limit.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_clock.h"
#include "vornex.h"

namespace {

typedef long long(__stdcall* QueryFn)(const char*);
typedef int(__stdcall* ControlFn)(const char*);

struct Stamp {
    std::string what;  // a log line, or "frame" for a frame delivered to the device
    double at;
};

// Follows the log file and the delivered-frame count until stopped.
class Watcher {
public:
    Watcher(const std::string& log, QueryFn query) : m_log(log), m_query(query) {
        m_thread = std::thread([this] { Run(); });
    }
    std::vector<Stamp> Stop() {
        m_stop = true;
        m_thread.join();
        return m_stamps;
    }

private:
    void Run() {
        HANDLE file = CreateFileA(m_log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        std::string partial;
        long long frames = m_query("framesdelivered");
        while (!m_stop) {
            char buffer[4096];
            DWORD got = 0;
            while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                partial.append(buffer, got);
                for (size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1))
                    m_stamps.push_back({partial.substr(0, end), Now()});
            }
            for (const long long now = m_query("framesdelivered"); frames < now; ++frames)
                m_stamps.push_back({"frame", Now()});
            Sleep(1);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    std::string m_log;
    QueryFn m_query;
    std::atomic<bool> m_stop{false};
    std::vector<Stamp> m_stamps;
    std::thread m_thread;
};

// The time of the n-th (from 1) stamp that begins with prefix, or -1.
double Nth(const std::vector<Stamp>& stamps, const std::string& prefix, int n) {
    for (const Stamp& s : stamps)
        if (s.what.compare(0, prefix.size(), prefix) == 0 && --n == 0) return s.at;
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    long fastest = 1536;
    const char* csvPath = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pages")) fastest = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--csv")) csvPath = argv[i + 1];
    }
    FILE* csv = csvPath ? std::fopen(csvPath, "w") : nullptr;
    if (csv) std::fprintf(csv, "rate,pages,seconds,pages per s,wire limit pages per s\n");

    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder = folder.substr(0, folder.find_last_of(L"\\/"));
    SetDllDirectoryW((folder + L"\\ftdisim").c_str());
    ROBOT_HANDLE robot = ROBOT_Create();
    PORT_HANDLE port = ROBOT_AttachFTDIDeviceByIndex(robot, 0);
    SetDllDirectoryW(nullptr);
    HMODULE sim = GetModuleHandleW(L"Ftd2xx.dll");
    auto control = reinterpret_cast<ControlFn>(reinterpret_cast<void*>(GetProcAddress(sim, "SIM_Control")));
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(sim, "SIM_Query")));
    if (!port || !control || !query) {
        std::printf("bench_download: the simulated FTDI device could not be attached\n");
        return 1;
    }
    control("pacing on");
    ROBOT_StartPolling(robot);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string log = std::string(temp) + "vornex_bench_download.log";

    std::printf("Download on the simulated FTDI device, paced at the link rate, in requests of 64 pages; the "
                "gap between requests and its steps in ms, averaged over the gaps of the download.\n\n");
    std::printf("| rate | pages | seconds | pages/s | of wire limit | gap | last page read | host sees the end "
                "| host issues | frame written, rate set | first page on the wire | call to first request | last page "
                "to return | ms a page inside a request (wire: 2720 bits) |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (long rate : {38400L, 115200L, 230400L}) {
        long pages = fastest * rate / 230400 / 64 * 64;
        if (pages < 128) pages = 128;
        const int runs = static_cast<int>(pages / 64);
        ROBOT_StartLogging(robot, log.c_str());
        Watcher watcher(log, query);
        SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
        SAFEARRAY* list = SafeArrayCreate(VT_I4, 2, bounds);
        LONG at[2] = {0, 1};
        SafeArrayPutElement(list, at, &pages);
        SAFEARRAY* matrix = nullptr;
        const double t0 = Now();
        const long rows = ROBOT_ReadToolMemory(robot, &list, rate, 3000, 1, &matrix);
        const double t1 = Now(), seconds = t1 - t0;
        const std::vector<Stamp> stamps = watcher.Stop();
        if (matrix) SafeArrayDestroy(matrix);
        SafeArrayDestroy(list);

        // Gap k: from the last page of request k to the first of request k+1.
        double steps[5] = {}, gap = 0;
        int gaps = 0;
        for (int k = 1; k < runs; ++k) {
            const double t[6] = {Nth(stamps, "frame", 64 * k), Nth(stamps, "**** Changing baud rate to", k),
                                 Nth(stamps, "Unread pages remaining", k), Nth(stamps, "Issuing:", k + 1),
                                 Nth(stamps, "****2 Changing baud rate to", k + 1), Nth(stamps, "frame", 64 * k + 1)};
            bool complete = true;
            for (double v : t) complete = complete && v >= 0;
            if (!complete) continue;
            for (int s = 0; s < 5; ++s) steps[s] += (t[s + 1] - t[s]) * 1000.0;
            gap += (t[5] - t[0]) * 1000.0;
            ++gaps;
        }
        const double perSecond = rows > 0 ? rows / seconds : 0;
        if (csv) std::fprintf(csv, "%ld,%ld,%.3f,%.2f,%.2f\n", rate, rows, seconds, perSecond, rate / 10.0 / 272.0);
        std::printf("| %ld | %ld | %.2f | %.1f | %.1f%% |", rate, rows, seconds, perSecond,
                    100.0 * perSecond / (rate / 10.0 / 272.0));
        if (gaps > 0)
            std::printf(" %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |", gap / gaps, steps[0] / gaps, steps[1] / gaps,
                        steps[2] / gaps, steps[3] / gaps, steps[4] / gaps);
        else
            std::printf(" - | - | - | - | - | - |");
        const double first = Nth(stamps, "Issuing:", 1), last = Nth(stamps, "frame", static_cast<int>(pages));
        std::printf(" %.1f | %.1f |", first >= 0 ? (first - t0) * 1000.0 : -1.0, last >= 0 ? (t1 - last) * 1000.0 : -1.0);
        double inside = 0;  // first to last page of each request, over its 63 intervals
        int requests = 0;
        for (int k = 0; k < runs; ++k) {
            const double a = Nth(stamps, "frame", 64 * k + 1), b = Nth(stamps, "frame", 64 * k + 64);
            if (a >= 0 && b >= 0) inside += (b - a) * 1000.0 / 63, ++requests;
        }
        std::printf(" %.2f (%.2f) |\n", requests ? inside / requests : -1.0, 2720000.0 / rate);
        std::fflush(stdout);
    }
    std::printf("\nThe first page's step includes its own time on the wire (2720 bits at the rate).\n");
    if (csv) std::fclose(csv);
    ROBOT_StopPolling(robot);
    ROBOT_Destroy(robot);
    ReleaseFTDIDevice(port);
    DeleteFileA(log.c_str());
    return 0;
}
