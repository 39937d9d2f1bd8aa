// Hosts that break the calling rules where only the static core can tell: two threads waiting for one command, stops
// made under the loader lock (from the host's DllMain), also right before it unloads the library.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "api/command_exports.h"
#include "api/lifecycle_exports.h"
#include "engine/robot_tool.h"
#include "framework/loader_lock.h"
#include "protocol/command_frame.h"

namespace {

// Polls cond every few milliseconds for at most ms; cond's last value.
template <typename Cond>
bool Within(DWORD ms, Cond cond) {
    for (const DWORD start = GetTickCount(); !cond(); Sleep(5))
        if (GetTickCount() - start >= ms) return cond();
    return true;
}

// The loader lock, taken the way a host's DllMain holds it.
class LoaderLock {
public:
    LoaderLock() {
        if (auto lock = reinterpret_cast<LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*)>(Ntdll("LdrLockLoaderLock")))
            lock(0, nullptr, &m_cookie);
    }
    ~LoaderLock() {
        auto unlock = reinterpret_cast<LONG(NTAPI*)(ULONG, ULONG_PTR)>(Ntdll("LdrUnlockLoaderLock"));
        if (unlock && m_cookie) unlock(0, m_cookie);
    }
    bool Held() const { return m_cookie != 0 && LoaderLockHeldByThisThread(); }

private:
    static void* Ntdll(const char* fn) { return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), fn)); }
    ULONG_PTR m_cookie = 0;
};

unsigned long ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    unsigned long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

TEST(CarelessHost, TwoThreadsWaitingForOneCommandBothGetItWhenItCompletes) {
    CRobotTool robot;
    const int id = robot.Issue(CString(L"0a01"), eStandard, false, false);
    robot.Transmit(0);  // hands it over and "sends" it (on no port)
    CRobotCommand* got[2] = {};
    std::thread first([&] { got[0] = robot.WaitReply(id, 30000); });
    std::thread second([&] { got[1] = robot.WaitReply(id, 30000); });
    ASSERT_TRUE(Within(10000, [&] { return robot.GetWaiterCount() == 2; }));
    std::vector<unsigned char> reply = EncodeCommand(L"0a01", 4, false, false);
    robot.HandleReply(reinterpret_cast<char*>(reply.data()), static_cast<int>(reply.size()));
    first.join(), second.join();
    ASSERT_NE(got[0], nullptr);
    EXPECT_EQ(got[0], got[1]);
    EXPECT_TRUE(got[0]->IsReplyComplete());
    EXPECT_EQ(robot.GetWaiterCount(), 0);
}

// The worker cannot run before the lock is free: the stop must not wait for
// it, and the worker leaves without touching the robot that is gone by then.
TEST(CarelessHost, AStartAndDestroyUnderTheLoaderLockReturnsAndTheWorkerLeavesAlone) {
    const unsigned long before = ThreadsOfThisProcess();
    std::atomic<bool> returned{false};
    EXPECT_FALSE(LoaderLockHeldByThisThread());
    std::thread host([&] {
        LoaderLock lock;
        ASSERT_TRUE(lock.Held());
        RobotHandle robot = ROBOT_Create();
        EXPECT_EQ(ROBOT_StartPolling(robot), 1);
        EXPECT_EQ(ROBOT_Destroy(robot), 1);
        returned = true;
    });
    ASSERT_TRUE(Within(30000, [&] { return returned.load(); })) << "the destroy never returned";
    host.join();
    EXPECT_TRUE(Within(10000, [&] { return ThreadsOfThisProcess() <= before; }));
}

// The worker is still leaving the library's code then: the library stays
// loaded until its last instruction there, and goes after.
TEST(CarelessHost, UnloadingRightAfterAStopUnderTheLoaderLockWaitsForTheWorker) {
    for (bool workerRan : {true, false}) {
        HMODULE library = LoadLibraryW(L"vornex.dll");
        ASSERT_NE(library, nullptr);
        auto entry = [library](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
        auto create = reinterpret_cast<void*(__stdcall*)()>(entry("ROBOT_Create"));
        auto start = reinterpret_cast<int(__stdcall*)(void*)>(entry("ROBOT_StartPolling"));
        auto destroy = reinterpret_cast<int(__stdcall*)(void*)>(entry("ROBOT_Destroy"));
        ASSERT_TRUE(create && start && destroy);
        void* robot = create();
        if (workerRan) {
            ASSERT_EQ(start(robot), 1);
            Sleep(200);  // most likely running now; started or not, the worker holds the library
        }
        HMODULE still = nullptr;
        {
            LoaderLock lock;
            ASSERT_TRUE(lock.Held());
            if (!workerRan) {
                ASSERT_EQ(start(robot), 1);
            }
            EXPECT_EQ(destroy(robot), 1);
            FreeLibrary(library);
            still = GetModuleHandleW(L"vornex.dll");
        }
        EXPECT_NE(still, nullptr) << (workerRan ? "running worker" : "worker that never ran");
        EXPECT_TRUE(Within(10000, [] { return GetModuleHandleW(L"vornex.dll") == nullptr; }));
    }
}

}  // namespace
