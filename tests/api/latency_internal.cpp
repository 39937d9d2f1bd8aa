// The exports, linked from the static core, where a host cannot take them: a short poll wait, a look inside the robot
// object, failing allocations, failing array calls (stand-ins in the import slots) and a reply without a part.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "api/attach_exports.h"
#include "api/command_exports.h"
#include "api/download_exports.h"
#include "api/ftdi_exports.h"
#include "api/lifecycle_exports.h"
#include "common/com_error.h"
#include "engine/robot_tool.h"
#include "engine/tick_source.h"
#include "ports/serial_list_exports.h"
#include "protocol/crc16.h"
#include "support/import_patch.h"
#include "support/loopback.h"
#include "support/process.h"

extern "C" void* g_createSlot __asm__(VX_IMPORT_SLOT(SafeArrayCreate, 12));
extern "C" void* g_putSlot __asm__(VX_IMPORT_SLOT(SafeArrayPutElement, 12));

// The replacements pair malloc with free; GCC cannot see that through them.
// The static runtime's array and nothrow forms call these.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static thread_local long t_allocationsLeft = -1;  // this thread's allocations before one fails; -1: none fails
static thread_local bool t_failed = false;        // that one has failed
static std::atomic<long> g_live{0};               // blocks allocated and not freed, every thread
void* operator new(size_t size) {
    if (t_allocationsLeft == 0) {
        t_allocationsLeft = -1, t_failed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsLeft > 0) --t_allocationsLeft;
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++g_live;
    return p;
}
void operator delete(void* p) noexcept {
    if (p) --g_live;
    std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

struct PollWait {
    explicit PollWait(unsigned ms) { SetEnginePollWait(ms); }
    ~PollWait() { SetEnginePollWait(0); }
};

struct Held {  // an array the host holds
    ~Held() { if (array) SafeArrayDestroy(array); }
    SAFEARRAY** out() { return &array; }
    SAFEARRAY* array = nullptr;
};

// Echoes every command frame, except a page read, which it answers with the first page asked for and nothing more.
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
    SOCKET m_listener = vxt::Listen(port), m_client = INVALID_SOCKET;
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

// Each request brings one page and is abandoned: the download gives up after
// eleven failures, never "complete" with pages missing.
TEST(Latency, AnAbandonedPageReadNeverEndsTheDownloadComplete) {
    PollWait wait(5);  // short cycles: many abandonments to look between
    for (int run = 0; run < 40; ++run) {
        Link link;
        ASSERT_NE(link.port, nullptr);
        SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
        Held pages, matrix;
        pages.array = SafeArrayCreate(VT_I4, 2, bounds);
        LONG at[2] = {0, 1}, count = 40;
        SafeArrayPutElement(pages.array, at, &count);  // run 0: pages 0..39
        ASSERT_EQ(ROBOT_ReadToolMemorySA(link.robot, pages.out(), 38400, 10, 1, matrix.out()), 0) << "run " << run;
    }
}

// A host thread blocked in ROBOT_WaitReply on an unanswered command is let go, with null.
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

// One export call with each of the calling thread's allocations failing in turn (the n-th, n = 0, 1, ... until a call
// no longer reaches it): it ends in a result of its own or raises _com_error (E_OUTOFMEMORY), nothing else, and a call
// that failed and gave nothing (0, null, raised) keeps no memory.
struct Call {
    const char* name;
    std::function<intptr_t()> run;
    std::function<bool(intptr_t)> allowed;
    std::function<void(intptr_t)> undo;  // after a call that made something
    bool alone = true;                    // no other thread allocates meanwhile
    bool issues = false;  // some failures raise (text or log line); the call that gets through gives an ID
};

void Sweep(const Call& call) {
    bool anyRaised = false;
    for (long n = 0; n < 2000; ++n) {
        const long before = g_live;
        t_failed = false;
        t_allocationsLeft = n;
        intptr_t result = 0;
        bool raised = true;
        long after = -1;
        try {
            result = call.run();
            raised = false;
        } catch (const _com_error& e) {
            EXPECT_EQ(e.Error(), E_OUTOFMEMORY) << call.name << ", allocation " << n;
        } catch (...) {
            after = g_live;
            ADD_FAILURE() << call.name << " let an exception out, allocation " << n;
        }
        t_allocationsLeft = -1;
        if (after < 0) after = g_live;
        const bool failed = t_failed;
        anyRaised |= raised;
        EXPECT_TRUE(raised || call.allowed(result)) << call.name << " gave " << result << ", allocation " << n;
        if (call.alone && failed && (raised || result == 0)) {
            EXPECT_LE(after, before) << call.name << " kept memory, allocation " << n;
        }
        if (!raised && result && call.undo) call.undo(result);
        if (failed) continue;
        EXPECT_TRUE(!call.issues || (anyRaised && result > 0)) << call.name << " gave " << result;
        return;
    }
    ADD_FAILURE() << call.name << " never got through";
}

std::function<bool(intptr_t)> In(intptr_t low, intptr_t high) {
    return [=](intptr_t r) { return r >= low && r <= high; };
}
intptr_t Ptr(const void* handle) { return reinterpret_cast<intptr_t>(handle); }

TEST(OutOfMemory, EveryExportEndsInAResultOfItsOwnWhicheverAllocationFails) {
    PollWait wait(5);
    Link link;
    ASSERT_NE(link.port, nullptr);
    RobotHandle robot = link.robot, other = ROBOT_Create();
    const std::string log = "latency_internal.log";
    Held reply, bytes, pages;
    bytes.array = SafeArrayCreateVector(VT_UI1, 0, 2);
    LONG second[2] = {0, 1}, one = 1;
    SafeArrayPutElement(bytes.array, &second[1], &one);
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {2, 0}};
    pages.array = SafeArrayCreate(VT_I4, 2, bounds);  // row 0: page 0, one page
    SafeArrayPutElement(pages.array, second, &one);
    const long done = ROBOT_SendCommand(robot, L"a1b2c3d4");
    ASSERT_EQ(ROBOT_WaitReplyBytes(robot, done, 5000, reply.out()), 12);
    int acceptPort = -1;
    SOCKET acceptor = vxt::Listen(acceptPort);
    u_long nonBlocking = 1;
    ioctlsocket(acceptor, FIONBIO, &nonBlocking);
    SetDllDirectoryW((vxproc::ExeFolder() + L"ftdisim").c_str());
    const std::function<bool(intptr_t)> any = In(INTPTR_MIN, INTPTR_MAX), none = In(0, 0), id = In(0, INTPTR_MAX),
                                        set = [](intptr_t r) { return r != 0; };
    const wchar_t* const sim = L"Vornex Sim Tool";
    const auto renew = [&](BOOL(__stdcall * release)(PortHandle)) {  // other and the port it was given go
        return [&, release](intptr_t port) {
            ROBOT_Destroy(other);
            release(reinterpret_cast<PortHandle>(port));
            other = ROBOT_Create();
        };
    };
    CFTDIPort device;  // opened once the attaches are done
    Sweep({"download", [&] {
               Held out;
               return ROBOT_ReadToolMemorySA(robot, pages.out(), 38400, 2000, 1, out.out());
           }, In(0, 1), nullptr, false});  // the worker files the pages meanwhile
    ROBOT_StopPolling(robot);  // from here this thread alone allocates
    const Call calls[] = {
        {"create", [] { return Ptr(ROBOT_Create()); }, any,
         [](intptr_t r) { ROBOT_Destroy(reinterpret_cast<RobotHandle>(r)); }},
        {"destroy", [&] { return ROBOT_Destroy(other); }, In(1, 1), [&](intptr_t) { other = ROBOT_Create(); }},
        {"write to port", [&] { return ROBOT_WriteToPort(robot, bytes.out(), 0); }, In(-1, 1), nullptr},
        {"send text unlogged", [&] { return ROBOT_SendCommand(robot, L"a1b2c3d4"); }, id, nullptr, true, true},
        {"start logging", [&] { return ROBOT_StartLogging(robot, log.c_str()), 1; }, any, nullptr},
        {"send text", [&] { return ROBOT_SendCommand(robot, L"a1b2c3d4"); }, id, nullptr, true, true},
        {"send bytes", [&] { return ROBOT_SendCommandBytes(robot, bytes.out(), 0); }, id, nullptr, true, true},
        {"tool info", [&] { return ROBOT_GetToolInfo(robot); }, id, nullptr, true, true},
        {"page read", [&] { return ROBOT_ReadFlashPages(robot, 0, 2, 38400, 1, L"AB"); }, id, nullptr, true, true},
        {"wait", [&] { return Ptr(ROBOT_WaitReply(robot, done, 0)); }, set, nullptr},
        {"wait unfinished", [&] { return Ptr(ROBOT_WaitReply(robot, 0x7FFFFFF0, 0)); }, none, nullptr},
        {"wait bytes", [&] { return ROBOT_WaitReplyBytes(robot, done, 1000, reply.out()); }, In(12, 12), nullptr},
        {"wait bytes unfinished", [&] { return ROBOT_WaitReplyBytes(robot, 0x7FFFFFF1, 1, reply.out()); }, none, nullptr},
        {"reply bytes", [&] { return ROBOT_GetReplyBytes(robot, done, reply.out()); }, In(12, 12), nullptr},
        {"delete", [&] { return ROBOT_DeleteReply(robot, done); }, In(1, 1), nullptr},
        {"attach tcp", [&] {
             for (SOCKET s; (s = accept(acceptor, nullptr, nullptr)) != INVALID_SOCKET;) closesocket(s);
             return Ptr(ROBOT_AttachTcpPort(other, L"127.0.0.1", acceptPort, 5000));
         }, any, renew(ReleaseTcpPort)},
        {"attach com", [&] { return Ptr(ROBOT_AttachSerialPort(other, 250)); }, none, nullptr},
        {"attach ftdi", [&] { return Ptr(ROBOT_AttachFTDIDevice(other, sim)); }, any, renew(ReleaseFTDIDevice)},
        {"attach ftdi by location", [&] { return Ptr(ROBOT_AttachFTDIDeviceByLoc(other, 0x1011)); }, any, renew(ReleaseFTDIDevice)},
        {"attach ftdi by index", [&] { return Ptr(ROBOT_AttachFTDIDeviceByIndex(other, 0)); }, any, renew(ReleaseFTDIDevice)},
        {"ftdi strings", [&] { return FTDI_GetDeviceStrings(reply.out()); }, any, nullptr},
        {"ftdi enumerate", [&] {
             Held a, b, c, d, e;
             return FTDI_Enumerate(a.out(), b.out(), c.out(), d.out(), e.out());
         }, any, nullptr},
    };
    for (const Call& call : calls) Sweep(call);
    ASSERT_TRUE(OpenFTDIDevice(device, sim));
    PortHandle ftdi = &device;
    const Call devices[] = {
        {"open ftdi", [&] { return OpenFTDIDevice(device, sim); }, any, nullptr},
        {"ftdi baud", [&] { return SetFTDIBaud(ftdi, 115200); }, any, nullptr},
        {"ftdi latency", [&] { return SetFTDILatency(ftdi, 2); }, any, nullptr},
        {"ftdi usb", [&] { return SetFTDIUSBParameters(ftdi, 4096, 4096); }, any, nullptr},
        {"ftdi location", [&] { return FTDI_GetLocID(ftdi); }, any, nullptr},
        {"ftdi reset", [&] { return FTDI_ResetDevice(ftdi); }, any, nullptr},
        {"ftdi version", [] { return FTDI_GetLibraryVersion(); }, any, nullptr},
        {"ftdi driver", [] { return FTDI_GetDriverStatus(); }, any, nullptr},
        {"port count", [] { return GetPortCount(); }, any, nullptr},
        {"port text", [] { return Ptr(GetPortDescription(1)); }, set,
         [](intptr_t r) { SysFreeString(reinterpret_cast<BSTR>(r)); }},
        {"port number", [] { return GetPortNumber(1); }, any, nullptr},
    };
    for (const Call& call : devices) Sweep(call);
    ROBOT_Destroy(other);
    closesocket(acceptor);
    SetDllDirectoryW(nullptr);
    DeleteFileA(log.c_str());
}

SAFEARRAY* WINAPI NoArray(VARTYPE, UINT, SAFEARRAYBOUND*) { return nullptr; }
HRESULT WINAPI NoElement(SAFEARRAY*, LONG*, void*) { return E_OUTOFMEMORY; }

struct Robot : CRobotTool {
    // Files a complete reply of these parts, as the worker would.
    long File(const std::vector<std::string>& parts) {
        CRobotCommand record(CString(L"BE4D"), ePageRead);
        for (size_t k = 0; k < parts.size(); ++k)
            record.StoreReply(static_cast<int>(k), static_cast<int>(parts[k].size()),
                              std::strcpy(new char[parts[k].size() + 1], parts[k].c_str()));
        record.SetReplyComplete();
        CLockHold hold(*this);
        return m_finished.emplace(record.GetID(), record).first->first;
    }
};

// An array that cannot be made leaves the record in place.
TEST(RareResults, NoPartGivesAnEmptyVectorAndAnArrayThatCannotBeMadeGivesMinusTwoOrRaises) {
    Robot robot;
    const long empty = robot.File({}), matrix = robot.File({"first", "second"}), vector = robot.File({"part"});
    SAFEARRAY* reply = SafeArrayCreateVector(VT_UI1, 0, 3);
    EXPECT_EQ(ROBOT_GetReplyBytes(&robot, empty, &reply), 0);
    VARTYPE type = VT_EMPTY;
    LONG upper = 0;
    ASSERT_TRUE(reply && SUCCEEDED(SafeArrayGetVartype(reply, &type)) && SUCCEEDED(SafeArrayGetUBound(reply, 1, &upper)));
    EXPECT_EQ(type, VT_I1);
    EXPECT_EQ(upper, -1);
    long raised = S_OK;
    {
        ImportPatch failing(g_createSlot, reinterpret_cast<void*>(&NoArray));
        EXPECT_EQ(ROBOT_GetReplyBytes(&robot, matrix, &reply), -2);
        EXPECT_EQ(reply, nullptr);  // the host's array went: nothing to free twice
    }
    {
        ImportPatch failing(g_putSlot, reinterpret_cast<void*>(&NoElement));
        try { ROBOT_GetReplyBytes(&robot, vector, &reply); } catch (long hr) { raised = hr; }
    }
    EXPECT_EQ(raised, static_cast<long>(E_OUTOFMEMORY));
    EXPECT_EQ(ROBOT_GetReplyBytes(&robot, matrix, &reply), 6);
    SafeArrayDestroy(reply);
}

}  // namespace
