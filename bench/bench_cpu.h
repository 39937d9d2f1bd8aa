#pragma once
// CPU clocks of the benchmarks, in seconds: this process (user + kernel), a
// set of its threads, and the Wine server, whose work on our behalf the
// process clock does not show.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace bench {

inline double Seconds(const FILETIME& kernel, const FILETIME& user) {
    auto s = [](const FILETIME& t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return s(kernel) + s(user);
}

inline double ProcessCpu() {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return Seconds(k, u);
}

inline std::set<DWORD> ThreadsOfThisProcess() {
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

inline double ThreadsCpu(const std::vector<DWORD>& ids) {
    double sum = 0;
    for (DWORD id : ids) {
        HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        FILETIME c, e, k, u;
        if (h && GetThreadTimes(h, &c, &e, &k, &u)) sum += Seconds(k, u);
        if (h) CloseHandle(h);
    }
    return sum;
}

// Threads of this process whose start routine lies in module: the simulated
// driver's own threads, which come and go with its open handles.
inline std::vector<DWORD> ThreadsStartingIn(HMODULE module) {
    typedef LONG(WINAPI * QueryFn)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    const int kStartAddress = 9;  // ThreadQuerySetWin32StartAddress
    std::vector<DWORD> ids;
    if (!module || !query) return ids;
    for (DWORD id : ThreadsOfThisProcess()) {
        HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        void* start = nullptr;
        HMODULE owner = nullptr;
        if (h && query(h, kStartAddress, &start, sizeof start, nullptr) == 0 && start &&
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCWSTR>(start), &owner) &&
            owner == module)
            ids.push_back(id);
        if (h) CloseHandle(h);
    }
    return ids;
}

// The Wine server's CPU from Linux's account of it (/proc/PID/schedstat,
// nanoseconds on a CPU; the server is one thread). PID comes from the script
// that started the server; without it, or off Wine, Read() is negative.
class ServerCpu {
public:
    explicit ServerCpu(int pid) {
        if (pid > 0) m_path = "Z:\\proc\\" + std::to_string(pid) + "\\schedstat";
        m_ok = Read() >= 0;
    }
    bool Available() const { return m_ok; }
    double Read() const {
        if (m_path.empty()) return -1;
        HANDLE f = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return -1;
        char text[128] = {};
        DWORD got = 0;
        const BOOL ok = ReadFile(f, text, sizeof text - 1, &got, nullptr);
        CloseHandle(f);
        unsigned long long ns = 0;
        if (!ok || std::sscanf(text, "%llu", &ns) != 1) return -1;
        return static_cast<double>(ns) / 1e9;
    }

private:
    std::string m_path;
    bool m_ok = false;
};

} // namespace bench
