// The keep-alive and an abandonment on a robot attached through the exports
// to a real port, per kind: TCP on loopback, the simulated FTDI device (no COM
// link in this program). The test runs the poll cycle's transmit step itself:
// 25 idle seconds take none, and nothing reads the port between the steps.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "api/attach_exports.h"
#include "api/lifecycle_exports.h"
#include "engine/robot_tool.h"
#include "ports/tcp_port.h"
#include "protocol/command_frame.h"
#include "support/loopback.h"

namespace {

struct Robot : CRobotTool { using CRobotTool::Transmit; };
const std::vector<unsigned char> kKeepAlive = EncodeCommand(L"be71", 4, false, false);

bool PumpUntil(const std::function<bool()>& cond) {
    for (DWORD start = GetTickCount(); !cond() && GetTickCount() - start < 10000; Sleep(2))
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
    return cond();
}

class TcpLink : public ::testing::Test {
protected:
    void SetUp() override {
        port = static_cast<CTCPPort*>(ROBOT_AttachTcpPort(robot.get(), L"127.0.0.1", static_cast<unsigned>(number), 5000));
        ASSERT_NE(port, nullptr);
        peer = accept(listener, nullptr, nullptr);
        const DWORD limit = 5000;  // on the peer's reads
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    }
    void TearDown() override {
        robot.reset();  // before its port
        if (port) ReleaseTcpPort(port);
        closesocket(peer), closesocket(listener);
    }
    int number = -1;
    SOCKET listener = vxt::Listen(number), peer = INVALID_SOCKET;
    std::unique_ptr<Robot> robot{new Robot};
    CTCPPort* port = nullptr;
};

}  // namespace

TEST_F(TcpLink, KeepAliveGoesOnTheWireAndNothingIsSentWhileDisconnected) {
    ROBOT_SetKeepAlive(robot.get(), 1);
    robot->Transmit(kKeepAlivePeriodMs);  // idle for the period: queued
    robot->Transmit(0);                   // written before this returns
    std::vector<unsigned char> wire(kKeepAlive.size() + 1);
    const int got = recv(peer, reinterpret_cast<char*>(wire.data()), static_cast<int>(wire.size()), 0);
    wire.resize(got > 0 ? static_cast<size_t>(got) : 0);
    EXPECT_EQ(wire, kKeepAlive);
    robot->Transmit(0);  // kind 1: abandoned a cycle later
    ASSERT_EQ(ROBOT_IsIdle(robot.get()), 1);
    closesocket(peer), peer = INVALID_SOCKET;
    closesocket(listener), listener = INVALID_SOCKET;
    ASSERT_TRUE(PumpUntil([&] { return !port->IsOpen(); }));
    for (int i = 0; i < 3; ++i) {
        robot->Transmit(kKeepAlivePeriodMs);
        EXPECT_EQ(ROBOT_IsIdle(robot.get()), 1) << "a keep-alive was queued while the link was down";
    }
}

TEST_F(TcpLink, AnAbandonmentDropsTheInputThePortHolds) {
    ROBOT_SetTimeout(robot.get(), 100);
    robot->Issue(CString(L"0102"), eStandard, false, false);
    robot->Transmit(0);
    ASSERT_TRUE(vxt::SendAll(peer, {0x11, 0x22, 0x33}));
    ASSERT_TRUE(PumpUntil([&] { return port->BytesAvailable() == 3; }));
    robot->Transmit(100);
    EXPECT_EQ(ROBOT_IsIdle(robot.get()), 1);
    EXPECT_EQ(port->BytesAvailable(), 0);
}

// The keep-alive awaits no reply: it is abandoned a cycle after it went out,
// and on FTDI every abandonment resets the device and purges it.
TEST(FtdiLink, KeepAliveGoesOnTheWireAndItsAbandonmentResetsAndPurges) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring folder = std::wstring(exe).substr(0, std::wstring(exe).find_last_of(L"\\/")) + L"\\ftdisim";
    SetDllDirectoryW(folder.c_str());
    HMODULE sim = LoadLibraryW((folder + L"\\Ftd2xx.dll").c_str());
    auto query = reinterpret_cast<long long(__stdcall*)(const char*)>(reinterpret_cast<void*>(GetProcAddress(sim, "SIM_Query")));
    auto written = reinterpret_cast<unsigned long(__stdcall*)(int, unsigned char*, unsigned long)>(
        reinterpret_cast<void*>(GetProcAddress(sim, "SIM_GetWritten")));
    std::unique_ptr<Robot> robot(new Robot);
    PortHandle port = sim ? ROBOT_AttachFTDIDeviceByIndex(robot.get(), 0) : nullptr;
    if (port && query && written) {
        ROBOT_SetKeepAlive(robot.get(), 1);
        const long long resets = query("resets"), purges = query("purges");
        robot->Transmit(kKeepAlivePeriodMs);
        robot->Transmit(0);
        std::vector<unsigned char> wire(written(0, nullptr, 0));
        written(0, wire.data(), static_cast<unsigned long>(wire.size()));
        EXPECT_EQ(wire, kKeepAlive);
        robot->Transmit(0);
        EXPECT_EQ(query("resets"), resets + 1);
        EXPECT_EQ(query("purges"), purges + 1);
    }
    EXPECT_TRUE(port && query && written) << "no simulated FTDI device";
    robot.reset();
    if (port) ReleaseFTDIDevice(port);
    if (sim) FreeLibrary(sim);
    SetDllDirectoryW(nullptr);  // the later cases look for no library
}
