// Waits and races of the link, through the exports linked from the static
// core, where a test can shorten the poll wait, reach inside the robot object
// and make allocations fail.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "api/attach_exports.h"
#include "api/command_exports.h"
#include "api/download_exports.h"
#include "api/lifecycle_exports.h"
#include "engine/robot_tool.h"
#include "engine/tick_source.h"
#include "framework/loader_lock.h"
#include "protocol/crc16.h"
#include "support/loopback.h"

// The replacements pair malloc with free; GCC cannot see that through them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static thread_local long t_allocationsLeft = -1;  // allocations before one fails; -1: none fails
void* operator new(size_t size) {
    if (t_allocationsLeft == 0) throw std::bad_alloc();
    if (t_allocationsLeft > 0) --t_allocationsLeft;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

struct PollWait {
    explicit PollWait(unsigned ms) { SetEnginePollWait(ms); }
    ~PollWait() { SetEnginePollWait(0); }
};

// Echoes every command frame, except a page read, which it answers with the
// first page asked for and nothing more.
class Tool {
public:
    Tool() : m_thread([this] { Serve(); }) {}
    ~Tool() {
        closesocket(m_listener);
        shutdown(m_client, SD_BOTH);
        m_thread.join();
    }
    int port = -1;

private:
    void Serve() {
        m_client = accept(m_listener, nullptr, nullptr);
        std::vector<unsigned char> in;
        char buffer[512];
        for (int got; (got = recv(m_client, buffer, sizeof buffer, 0)) > 0;) {
            in.insert(in.end(), buffer, buffer + got);
            for (size_t size; in.size() >= 4 && in.size() >= (size = in[3] * 2u + 4);) {
                std::vector<unsigned char> out(in.begin(), in.begin() + size);
                if (out[4] == 0xBE && out[5] == 0x4D) {  // page read: page p (bytes 6..9), index 0
                    out.assign(272, 0x5A);
                    const unsigned char head[12] = {0xA5, 0x5A, 0, 0x86, 0xBE, 0x4D, in[6], in[7], in[8], in[9], 0, 0};
                    std::copy(head, head + 12, out.begin());
                    const uint16_t crc = CCrc16::Of(out.data(), 268);
                    out[268] = static_cast<unsigned char>(crc >> 8), out[269] = static_cast<unsigned char>(crc);
                    out[270] = 0xFA, out[271] = 0xAF;
                }
                send(m_client, reinterpret_cast<const char*>(out.data()), static_cast<int>(out.size()), 0);
                in.erase(in.begin(), in.begin() + size);
            }
        }
        closesocket(m_client);
    }
    SOCKET m_listener = vxt::Listen(port);
    SOCKET m_client = INVALID_SOCKET;
    std::thread m_thread;
};

// A polling robot on the tool.
struct Link {
    Link() : robot(ROBOT_Create()), port(ROBOT_AttachTcpPort(robot, L"127.0.0.1", static_cast<unsigned>(tool.port), 5000)) {
        ROBOT_StartPolling(robot);
    }
    ~Link() {
        ROBOT_StopPolling(robot);
        ROBOT_Destroy(robot);
        if (port) ReleaseTcpPort(port);
    }
    Tool tool;
    RobotHandle robot;
    PortHandle port;
};

// Each request brings one page and is abandoned: one failure each, so the
// download gives up after eleven, never ends "complete" with pages missing
// (its next request refused while the abandoned one still expected pages).
TEST(Latency, AnAbandonedPageReadNeverEndsTheDownloadComplete) {
    PollWait wait(5);  // short cycles: many abandonments to look between
    for (int run = 0; run < 40; ++run) {
        Link link;
        ASSERT_NE(link.port, nullptr);
        SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
        SAFEARRAY *pages = SafeArrayCreate(VT_I4, 2, bounds), *matrix = nullptr;
        LONG at[2] = {0, 1}, count = 40;
        SafeArrayPutElement(pages, at, &count);  // run 0: pages 0..39
        const long rows = ROBOT_ReadToolMemorySA(link.robot, &pages, 38400, 10, 1, &matrix);
        if (matrix) SafeArrayDestroy(matrix);
        SafeArrayDestroy(pages);
        ASSERT_EQ(rows, 0) << "run " << run;
    }
}

// Host threads inside a wait on the robot: each has its waiter event there.
// A host thread blocked in ROBOT_WaitReply on a command that is not answered
// is let go, with null, by an attach and by the robot's destruction.
TEST(Latency, AnAttachAndDestroyReleaseAHostThreadInsideAWait) {
    Link link;
    Tool second;
    PortHandle other = nullptr;
    auto released = [&](long id, const std::function<void()>& action) {
        std::atomic<bool> returned{false};
        std::atomic<DWORD> start{0}, took{0};
        std::atomic<CRobotCommand*> got{nullptr};
        std::thread waiter([&] { got = ROBOT_WaitReply(link.robot, id, 60000), took = GetTickCount() - start, returned = true; });
        CRobotTool* tool = RobotFromHandle(link.robot);
        for (DWORD begin = GetTickCount(); !tool->GetWaiterCount() && GetTickCount() - begin < 5000;) Sleep(1);
        EXPECT_EQ(tool->GetWaiterCount(), 1) << "the waiter never got inside";
        start = GetTickCount();
        action();
        for (; !returned && GetTickCount() - start < 20000;) Sleep(1);
        returned ? waiter.join() : waiter.detach();  // detached, it touches a robot that is gone
        return returned && !got && took < 20000;  // not ended by its own time
    };
    ROBOT_StopPolling(link.robot);  // the command stays queued
    EXPECT_TRUE(released(ROBOT_SendCommand(link.robot, L"0102"), [&] {
        other = ROBOT_AttachTcpPort(link.robot, L"127.0.0.1", static_cast<unsigned>(second.port), 5000);
    })) << "ROBOT_WaitReply stayed blocked through the attach";
    ASSERT_NE(other, nullptr);
    ROBOT_SetTimeout(link.robot, 60000);
    ASSERT_TRUE(ROBOT_StartPolling(link.robot));
    // The tool answers the first of two pages: the read stays unfinished.
    long destroyed = 0;
    EXPECT_TRUE(released(ROBOT_ReadFlashPages(link.robot, 0, 2, 38400, 1, nullptr), [&] { destroyed = ROBOT_Destroy(link.robot); }))
        << "ROBOT_WaitReply stayed blocked through ROBOT_Destroy";
    EXPECT_EQ(destroyed, 1);
    link.robot = nullptr;
    ReleaseTcpPort(other);
}

// True when call raised with the n-th allocation from now failing.
template <typename Call>
bool RaisesWhenAllocationFails(long n, Call call) {
    t_allocationsLeft = n;
    bool raised = false;
    try { call(); } catch (...) { raised = true; }
    t_allocationsLeft = -1;
    return raised;
}

TEST(Latency, RunningOutOfMemoryGivesNoRobotNoLogNoCommandAndRaisesNothing) {
    for (long n = 0;; ++n) {
        RobotHandle robot = nullptr;
        EXPECT_FALSE(RaisesWhenAllocationFails(n, [&] { robot = ROBOT_Create(); })) << "allocation " << n;
        if (!robot) continue;
        for (long m = 0; m < 8; ++m) {
            EXPECT_FALSE(RaisesWhenAllocationFails(m, [&] { ROBOT_StartLogging(robot, "latency_internal.log"); }));
            long id = -1;
            EXPECT_FALSE(RaisesWhenAllocationFails(m, [&] { id = ROBOT_SendCommand(robot, L"a1b2c3d4"); }));
            EXPECT_NE(id, -1);
            PortHandle port = nullptr;  // not attached (no wait): released by the host
            EXPECT_FALSE(RaisesWhenAllocationFails(m, [&] { port = ROBOT_AttachTcpPort(robot, L"127.0.0.1", 1, 0); }));
            if (port) ReleaseTcpPort(port);
        }
        ROBOT_Destroy(robot);
        if (n > 64) break;  // well past the allocations of ROBOT_Create
    }
    DeleteFileA("latency_internal.log");
}

}  // namespace
