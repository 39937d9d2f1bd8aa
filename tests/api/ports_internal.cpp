// The FTDI binding without its library or FT_Rescan, the driver's service state (failures made by stand-ins in the
// import slots), and vornex.dll unloaded while socket notifications are still queued for it.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/ftdi_exports.h"
#include "ports/ftdi_port.h"
#include "support/import_patch.h"
#include "support/loopback.h"
#include "support/message_boxes.h"
#include "support/process.h"

extern "C" void* g_managerSlot __asm__(VX_IMPORT_SLOT(OpenSCManagerW, 12));
extern "C" void* g_servicesSlot __asm__(VX_IMPORT_SLOT(EnumServicesStatusW, 32));

namespace {
SC_HANDLE WINAPI NoManager(LPCWSTR, LPCWSTR, DWORD) { return SetLastError(ERROR_ACCESS_DENIED), nullptr; }
// kAny false: the list fails; true: FTSER2K running, then a driver whose name only begins like it.
template <bool kAny>
BOOL WINAPI Services(SC_HANDLE, DWORD, DWORD, LPENUM_SERVICE_STATUSW out, DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD) {
    static wchar_t ftdi[] = L"FTSER2K", similar[] = L"FTSER2KX";
    const ENUM_SERVICE_STATUSW list[2] = {{ftdi, ftdi, {SERVICE_KERNEL_DRIVER, SERVICE_RUNNING, 0, 0, 0, 0, 0}},
                                          {similar, similar, {SERVICE_KERNEL_DRIVER, SERVICE_PAUSED, 0, 0, 0, 0, 0}}};
    *needed = kAny ? sizeof list : 0;
    *returned = 0;
    if (!kAny || !out || size < sizeof list) return SetLastError(kAny ? ERROR_MORE_DATA : ERROR_ACCESS_DENIED), FALSE;
    std::memcpy(out, list, sizeof list);
    return *returned = 2, TRUE;
}
}  // namespace

TEST(DriverStatus, IsTheServiceStateOrMinusOneOrMinusTwo) {
    EXPECT_EQ(FTDI_GetDriverStatus(), 0);  // no FTSER2K here
    struct Case { void*& slot; void* standIn; long status; };
    const Case cases[] = {{g_servicesSlot, reinterpret_cast<void*>(&Services<true>), SERVICE_RUNNING},
                          {g_managerSlot, reinterpret_cast<void*>(&NoManager), -1},
                          {g_servicesSlot, reinterpret_cast<void*>(&Services<false>), -2}};
    for (const Case& c : cases) {
        ImportPatch patch(c.slot, c.standIn);
        EXPECT_EQ(FTDI_GetDriverStatus(), c.status) << c.status;
    }
}

TEST(FtdiBinding, WithoutTheLibraryEachCallShowsItsOwnBoxAndGivesStatusOne) {
    vxt::MessageBoxes boxes;
    SetDllDirectoryW(nullptr);
    {
        CFTDIPort port;
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"Error: Can't Load ftd2xx.dll"});
        EXPECT_FALSE(port.IsLibraryLoaded());
        DWORD a = 0, b = 0, c = 0;
        EXPECT_EQ(port.GetStatus(&a, &b, &c), 1u);
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"FT_GetStatus is not valid!"});
        EXPECT_EQ(port.Write(&a, 1, &b), 1u);
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"FT_Write is not valid!"});
        EXPECT_EQ(port.SetBaudRate(9600), 1u);
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"FT_SetBaudRate is not valid!"});
        EXPECT_EQ(port.GetBaudRate(), 38400u);  // recorded only on success
        EXPECT_EQ(port.CyclePort(), 1u);
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"FT_CyclePort"});
    }
    EXPECT_TRUE(boxes.Take().empty()) << "destruction showed a box";
    SetDllDirectoryW((vxproc::ExeFolder() + L"ftdisim-norescan").c_str());
    {
        CFTDIPort port;
        EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"Error: Can't Find FT_Rescan"});
        DWORD devices = 0;
        EXPECT_EQ(port.ListDevices(&devices, nullptr, 0x80000000), 0u);  // the rest works
        ASSERT_EQ(port.Open(0), 0u);
        EXPECT_EQ(port.SetBaudRate(115200), 0u);
        EXPECT_EQ(port.GetBaudRate(), 115200u);
        port.Close();
        EXPECT_TRUE(boxes.Take().empty());
    }
    SetDllDirectoryW(nullptr);
}

TEST(LibraryUnload, NotificationsQueuedAfterUnloadAreHarmlessAndAReloadWorks) {
    int port = -1;
    SOCKET listener = vxt::Listen(port);
    ASSERT_NE(listener, INVALID_SOCKET);
    for (int round = 0; round < 2; ++round) {
        HMODULE library = LoadLibraryW(L"vornex.dll");
        ASSERT_NE(library, nullptr);
        auto create = reinterpret_cast<void*(__stdcall*)()>(GetProcAddress(library, "ROBOT_Create"));
        auto destroy = reinterpret_cast<bool(__stdcall*)(void*)>(GetProcAddress(library, "ROBOT_Destroy"));
        auto attach = reinterpret_cast<void*(__stdcall*)(void*, const wchar_t*, unsigned, unsigned)>(
            GetProcAddress(library, "ROBOT_AttachTcpPort"));
        auto release = reinterpret_cast<bool(__stdcall*)(void*)>(GetProcAddress(library, "TCP_ReleasePort"));
        ASSERT_TRUE(create && destroy && attach && release);
        void* robot = create();
        void* tcp = attach(robot, L"127.0.0.1", static_cast<unsigned>(port), round == 0 ? 0 : 5000);
        ASSERT_NE(tcp, nullptr) << "round " << round;
        SOCKET peer = accept(listener, nullptr, nullptr);
        send(peer, "queued", 6, 0);
        ASSERT_TRUE(vxt::MessageQueued()) << "no notification queued";
        release(tcp);
        destroy(robot);
        FreeLibrary(library);
        EXPECT_EQ(GetModuleHandleW(L"vornex.dll"), nullptr);
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);  // to the system's
        closesocket(peer);
    }
    closesocket(listener);
}
