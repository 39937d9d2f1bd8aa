// The simulated Ftd2xx.dll loaded the way a host loads the vendor library:
// LoadLibrary from its folder, every function found by its plain name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/ftd2xx/d2xx_api.h"
#include "sim_test_util.h"

using namespace simtest;

namespace {

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

const char* const kD2xxNames[] = {
    "FT_Open",          "FT_OpenEx",           "FT_ListDevices",          "FT_Close",
    "FT_Read",          "FT_Write",            "FT_ResetDevice",          "FT_Purge",
    "FT_SetTimeouts",   "FT_SetBaudRate",      "FT_GetQueueStatus",       "FT_GetStatus",
    "FT_SetDataCharacteristics", "FT_CyclePort", "FT_SetUSBParameters",   "FT_SetLatencyTimer",
    "FT_Rescan",        "FT_Reload",           "FT_SetEventNotification", "FT_GetLibraryVersion",
    "FT_GetComPortNumber", "FT_GetDeviceInfo",
};

// The library, bound by name as a host binds it.
struct D2xx {
    HMODULE module = nullptr;
#define VX_SLOT(name) decltype(&::name) name = nullptr
    VX_SLOT(FT_Open);
    VX_SLOT(FT_OpenEx);
    VX_SLOT(FT_ListDevices);
    VX_SLOT(FT_Close);
    VX_SLOT(FT_Read);
    VX_SLOT(FT_Write);
    VX_SLOT(FT_ResetDevice);
    VX_SLOT(FT_Purge);
    VX_SLOT(FT_SetTimeouts);
    VX_SLOT(FT_SetBaudRate);
    VX_SLOT(FT_GetQueueStatus);
    VX_SLOT(FT_GetStatus);
    VX_SLOT(FT_SetDataCharacteristics);
    VX_SLOT(FT_CyclePort);
    VX_SLOT(FT_SetUSBParameters);
    VX_SLOT(FT_SetLatencyTimer);
    VX_SLOT(FT_Rescan);
    VX_SLOT(FT_Reload);
    VX_SLOT(FT_SetEventNotification);
    VX_SLOT(FT_GetLibraryVersion);
    VX_SLOT(FT_GetComPortNumber);
    VX_SLOT(FT_GetDeviceInfo);
    VX_SLOT(SIM_Control);
    VX_SLOT(SIM_Query);
    VX_SLOT(SIM_GetWritten);
#undef VX_SLOT

    template <typename Fn>
    void Bind(Fn& slot, const char* name) {
        slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Load(const std::wstring& path) {
        module = LoadLibraryW(path.c_str());
        if (!module) return false;
#define VX_BIND(name) Bind(name, #name)
        VX_BIND(FT_Open);
        VX_BIND(FT_OpenEx);
        VX_BIND(FT_ListDevices);
        VX_BIND(FT_Close);
        VX_BIND(FT_Read);
        VX_BIND(FT_Write);
        VX_BIND(FT_ResetDevice);
        VX_BIND(FT_Purge);
        VX_BIND(FT_SetTimeouts);
        VX_BIND(FT_SetBaudRate);
        VX_BIND(FT_GetQueueStatus);
        VX_BIND(FT_GetStatus);
        VX_BIND(FT_SetDataCharacteristics);
        VX_BIND(FT_CyclePort);
        VX_BIND(FT_SetUSBParameters);
        VX_BIND(FT_SetLatencyTimer);
        VX_BIND(FT_Rescan);
        VX_BIND(FT_Reload);
        VX_BIND(FT_SetEventNotification);
        VX_BIND(FT_GetLibraryVersion);
        VX_BIND(FT_GetComPortNumber);
        VX_BIND(FT_GetDeviceInfo);
        VX_BIND(SIM_Control);
        VX_BIND(SIM_Query);
        VX_BIND(SIM_GetWritten);
#undef VX_BIND
        return true;
    }
};

// Three devices; the third shares its description with the second.
const char kThreeDevices[] =
    "devices device description=\"Tool One\" serial=S1 location=0x2101 com=7"
    "|device description=\"Tool Two\" serial=S2 location=0x2102 com=none"
    "|device description=\"Tool Two\" serial=S3 location=0x2103 com=12";

class SimFtdi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_path = BinDir() + L"ftdisim\\Ftd2xx.dll";
        s_ok = s_d2xx.Load(s_path);
    }
    void SetUp() override {
        ASSERT_TRUE(s_ok) << "bin\\ftdisim\\Ftd2xx.dll did not load";
        ASSERT_EQ(0, d.SIM_Control(kThreeDevices));
    }

    // Opens a device as the library does after every open.
    FT_HANDLE OpenPrepared(DWORD location) {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(kFtOk, d.FT_OpenEx(reinterpret_cast<void*>(static_cast<uintptr_t>(location)), kFtOpenByLocation, &h));
        EXPECT_EQ(kFtOk, d.FT_ResetDevice(h));
        EXPECT_EQ(kFtOk, d.FT_Purge(h, 3));
        EXPECT_EQ(kFtOk, d.FT_SetTimeouts(h, 2000, 2000));
        EXPECT_EQ(kFtOk, d.FT_SetDataCharacteristics(h, 8, 0, 0));
        EXPECT_EQ(kFtOk, d.FT_SetBaudRate(h, 38400));
        return h;
    }

    Bytes Read(FT_HANDLE h, DWORD count) {
        Bytes out(count);
        DWORD got = 0;
        EXPECT_EQ(kFtOk, d.FT_Read(h, out.data(), count, &got));
        out.resize(got);
        return out;
    }

    void Write(FT_HANDLE h, Bytes bytes) {
        DWORD written = 0;
        ASSERT_EQ(kFtOk, d.FT_Write(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written));
        ASSERT_EQ(bytes.size(), written);
    }

    // The library's way with a command that changes the rate: one byte per
    // write, then wait until the transmit queue is empty.
    void WriteBytewiseAndDrain(FT_HANDLE h, Bytes bytes) {
        for (uint8_t& b : bytes) {
            DWORD written = 0;
            ASSERT_EQ(kFtOk, d.FT_Write(h, &b, 1, &written));
        }
        DWORD rx = 0, tx = 1, events = 0;
        for (int i = 0; i < 2000 && tx != 0; ++i) {
            ASSERT_EQ(kFtOk, d.FT_GetStatus(h, &rx, &tx, &events));
            if (tx) Sleep(1);
        }
        ASSERT_EQ(0u, tx);
    }

    Bytes ToolInfoRequest() {
        Bytes r = Preamble();
        const Bytes f = Frame(L"BE09");
        r.insert(r.end(), f.begin(), f.end());
        return r;
    }

    static D2xx s_d2xx;
    static std::wstring s_path;
    static bool s_ok;
    D2xx& d = s_d2xx;
};

D2xx SimFtdi::s_d2xx;
std::wstring SimFtdi::s_path;
bool SimFtdi::s_ok = false;

} // namespace

TEST_F(SimFtdi, ExportsEveryFunctionUndecoratedAndTheVariantLacksRescan) {
    for (const char* name : kD2xxNames) EXPECT_NE(nullptr, GetProcAddress(d.module, name)) << name;
    HMODULE norescan = LoadLibraryW((BinDir() + L"ftdisim-norescan\\Ftd2xx.dll").c_str());
    ASSERT_NE(nullptr, norescan);
    ASSERT_NE(d.module, norescan);
    for (const char* name : kD2xxNames)
        EXPECT_EQ(std::strcmp(name, "FT_Rescan") != 0, GetProcAddress(norescan, name) != nullptr) << name;
    FreeLibrary(norescan);
}

TEST_F(SimFtdi, CarriesProductVersion2_8_14AndReportsTheLibraryVersion) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(s_path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(s_path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len));
    ASSERT_GE(len, 52u);
    EXPECT_EQ(0x00020008u, info->dwProductVersionMS);
    EXPECT_EQ(0x000E0000u, info->dwProductVersionLS);
    DWORD version = 0;
    EXPECT_EQ(kFtOk, d.FT_GetLibraryVersion(&version));
    EXPECT_EQ(0x00020814u, version);
    EXPECT_EQ(kFtInvalidParameter, d.FT_GetLibraryVersion(nullptr));
}

TEST_F(SimFtdi, DevicesComeFromTheFileNamedByTheEnvironment) {
    SetEnvironmentVariableW(L"VORNEX_FTDISIM_CONFIG", nullptr);
    ASSERT_EQ(0, d.SIM_Control("reload"));
    DWORD count = 0;
    ASSERT_EQ(kFtOk, d.FT_ListDevices(&count, nullptr, kFtListNumberOnly));
    EXPECT_EQ(1u, count);
    char description[64] = {};
    ASSERT_EQ(kFtOk, d.FT_ListDevices(reinterpret_cast<void*>(0), description, kFtListByIndex | kFtOpenByDescription));
    EXPECT_STREQ("Vornex Sim Tool", description);

    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + L"vornex-ftdisim-test.cfg";
    auto writeConfig = [&](const char* text) {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
        CloseHandle(f);
    };
    SetEnvironmentVariableW(L"VORNEX_FTDISIM_CONFIG", path.c_str());
    writeConfig("# bench\ndevice description=\"From File\" location=0x77\ndevice present=off\n");
    ASSERT_EQ(0, d.SIM_Control("reload"));
    EXPECT_EQ(2, d.SIM_Query("devices"));
    EXPECT_EQ(0, d.SIM_Query("configerror"));
    ASSERT_EQ(kFtOk, d.FT_ListDevices(&count, nullptr, kFtListNumberOnly));
    EXPECT_EQ(1u, count);  // the second is unplugged
    ASSERT_EQ(kFtOk, d.FT_ListDevices(reinterpret_cast<void*>(0), description, kFtListByIndex | kFtOpenByDescription));
    EXPECT_STREQ("From File", description);
    ASSERT_EQ(0, d.SIM_Control("dev:1 return"));
    ASSERT_EQ(kFtOk, d.FT_ListDevices(&count, nullptr, kFtListNumberOnly));
    EXPECT_EQ(2u, count);

    writeConfig("device\ndevice speed=9\n");
    ASSERT_EQ(0, d.SIM_Control("reload"));
    EXPECT_EQ(2, d.SIM_Query("configerror"));
    EXPECT_EQ(1, d.SIM_Query("devices"));

    DeleteFileW(path.c_str());
    ASSERT_EQ(0, d.SIM_Control("reload"));
    EXPECT_EQ(0, d.SIM_Query("devices"));
    EXPECT_EQ(1, d.SIM_Query("configerror"));
    SetEnvironmentVariableW(L"VORNEX_FTDISIM_CONFIG", nullptr);
}

TEST_F(SimFtdi, ListsDevicesInEveryFormTheLibraryUses) {
    DWORD count = 0;
    ASSERT_EQ(kFtOk, d.FT_ListDevices(&count, nullptr, kFtListNumberOnly));
    EXPECT_EQ(3u, count);

    char text[64];
    ASSERT_EQ(kFtOk, d.FT_ListDevices(reinterpret_cast<void*>(1), text, kFtListByIndex | kFtOpenByDescription));
    EXPECT_STREQ("Tool Two", text);
    ASSERT_EQ(kFtOk, d.FT_ListDevices(reinterpret_cast<void*>(2), text, kFtListByIndex | kFtOpenBySerialNumber));
    EXPECT_STREQ("S3", text);
    DWORD location = 0;
    ASSERT_EQ(kFtOk, d.FT_ListDevices(reinterpret_cast<void*>(0), &location, kFtListByIndex | kFtOpenByLocation));
    EXPECT_EQ(0x2101u, location);
    EXPECT_EQ(kFtDeviceNotFound, d.FT_ListDevices(reinterpret_cast<void*>(3), text, kFtListByIndex | kFtOpenByDescription));
    EXPECT_EQ(kFtInvalidParameter, d.FT_ListDevices(reinterpret_cast<void*>(0), nullptr, kFtListByIndex | kFtOpenByDescription));
    EXPECT_EQ(kFtInvalidParameter, d.FT_ListDevices(nullptr, nullptr, kFtListNumberOnly));

    // All descriptions: never more than the pointer array holds.
    char buffers[2][80];
    memset(buffers, 0x7E, sizeof buffers);
    char* two[] = {buffers[0], buffers[1], nullptr};
    count = 0;
    ASSERT_EQ(kFtOk, d.FT_ListDevices(two, &count, kFtListAll | kFtOpenByDescription));
    EXPECT_EQ(2u, count);
    EXPECT_STREQ("Tool One", buffers[0]);
    EXPECT_STREQ("Tool Two", buffers[1]);
    EXPECT_EQ(0x7E, static_cast<unsigned char>(buffers[1][64]));
    char ten[10][64] = {};
    char* pointers[11];
    for (int i = 0; i < 10; ++i) pointers[i] = ten[i];
    pointers[10] = nullptr;
    ASSERT_EQ(kFtOk, d.FT_ListDevices(pointers, &count, kFtListAll | kFtOpenByDescription));
    EXPECT_EQ(3u, count);
    EXPECT_STREQ("Tool Two", ten[2]);
    EXPECT_EQ(0, ten[3][0]);
    DWORD locations[10];
    EXPECT_EQ(kFtInvalidParameter, d.FT_ListDevices(locations, &count, kFtListAll | kFtOpenByLocation));
}

TEST_F(SimFtdi, OpensByIndexLocationAndDescriptionAndABusyDeviceStaysBusy) {
    FT_HANDLE a = nullptr, b = nullptr, c = nullptr, x = nullptr;
    ASSERT_EQ(kFtOk, d.FT_Open(0, &a));
    EXPECT_NE(nullptr, a);
    EXPECT_EQ(kFtDeviceNotOpened, d.FT_Open(0, &x));
    EXPECT_EQ(nullptr, x);
    EXPECT_EQ(kFtDeviceNotOpened, d.FT_OpenEx(reinterpret_cast<void*>(0x2101), kFtOpenByLocation, &x));
    EXPECT_EQ(kFtDeviceNotFound, d.FT_Open(3, &x));
    EXPECT_EQ(kFtDeviceNotFound, d.FT_Open(-1, &x));
    EXPECT_EQ(kFtDeviceNotFound, d.FT_OpenEx(reinterpret_cast<void*>(0x9999), kFtOpenByLocation, &x));
    EXPECT_EQ(kFtDeviceNotFound, d.FT_OpenEx(const_cast<char*>("Tool Three"), kFtOpenByDescription, &x));
    EXPECT_EQ(kFtInvalidParameter, d.FT_OpenEx(nullptr, kFtOpenByDescription, &x));
    EXPECT_EQ(kFtInvalidParameter, d.FT_Open(0, nullptr));

    // Two devices share a description: the second open takes the other one.
    ASSERT_EQ(kFtOk, d.FT_OpenEx(const_cast<char*>("Tool Two"), kFtOpenByDescription, &b));
    ASSERT_EQ(kFtOk, d.FT_OpenEx(const_cast<char*>("Tool Two"), kFtOpenByDescription, &c));
    char serial[16], description[64];
    ASSERT_EQ(kFtOk, d.FT_GetDeviceInfo(c, nullptr, nullptr, serial, description, nullptr));
    EXPECT_STREQ("S3", serial);
    EXPECT_EQ(kFtDeviceNotOpened, d.FT_OpenEx(const_cast<char*>("Tool Two"), kFtOpenByDescription, &x));

    EXPECT_EQ(kFtOk, d.FT_Close(b));
    EXPECT_EQ(kFtInvalidHandle, d.FT_Close(b));
    ASSERT_EQ(kFtOk, d.FT_OpenEx(const_cast<char*>("S2"), kFtOpenBySerialNumber, &b));
    EXPECT_EQ(1, d.SIM_Query("dev:1 open"));
    EXPECT_EQ(kFtOk, d.FT_Close(a));
    EXPECT_EQ(kFtOk, d.FT_Close(b));
    EXPECT_EQ(kFtOk, d.FT_Close(c));
}

TEST_F(SimFtdi, UnknownAndStaleHandlesGetStatusOne) {
    FT_HANDLE closed = nullptr;
    ASSERT_EQ(kFtOk, d.FT_Open(0, &closed));
    ASSERT_EQ(kFtOk, d.FT_Close(closed));
    uint8_t buffer[16] = {};
    DWORD n = 0, rx = 0, tx = 0, ev = 0;
    LONG port = 0;
    for (FT_HANDLE h : {closed, static_cast<FT_HANDLE>(nullptr), reinterpret_cast<FT_HANDLE>(0x1234),
                        reinterpret_cast<FT_HANDLE>(buffer)}) {
        EXPECT_EQ(kFtInvalidHandle, d.FT_Close(h));
        EXPECT_EQ(kFtInvalidHandle, d.FT_Read(h, buffer, 4, &n));
        EXPECT_EQ(kFtInvalidHandle, d.FT_Write(h, buffer, 4, &n));
        EXPECT_EQ(kFtInvalidHandle, d.FT_ResetDevice(h));
        EXPECT_EQ(kFtInvalidHandle, d.FT_Purge(h, 3));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetTimeouts(h, 100, 100));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetBaudRate(h, 38400));
        EXPECT_EQ(kFtInvalidHandle, d.FT_GetQueueStatus(h, &rx));
        EXPECT_EQ(kFtInvalidHandle, d.FT_GetStatus(h, &rx, &tx, &ev));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetDataCharacteristics(h, 8, 0, 0));
        EXPECT_EQ(kFtInvalidHandle, d.FT_CyclePort(h));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetUSBParameters(h, 4096, 4096));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetLatencyTimer(h, 16));
        EXPECT_EQ(kFtInvalidHandle, d.FT_SetEventNotification(h, 1, nullptr));
        EXPECT_EQ(kFtInvalidHandle, d.FT_GetComPortNumber(h, &port));
        EXPECT_EQ(kFtInvalidHandle, d.FT_GetDeviceInfo(h, nullptr, nullptr, nullptr, nullptr, nullptr));
    }
}

TEST_F(SimFtdi, ReportsDeviceInfoComPortAndChecksSettings) {
    FT_HANDLE h = OpenPrepared(0x2101);
    LONG port = 0;
    ASSERT_EQ(kFtOk, d.FT_GetComPortNumber(h, &port));
    EXPECT_EQ(7, port);
    ULONG type = 0;
    DWORD id = 0;
    char serial[16], description[64];
    ASSERT_EQ(kFtOk, d.FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr));
    EXPECT_EQ(0x04036001u, id);
    EXPECT_STREQ("S1", serial);
    EXPECT_STREQ("Tool One", description);

    EXPECT_EQ(kFtInvalidBaudRate, d.FT_SetBaudRate(h, 100));
    EXPECT_EQ(38400, d.SIM_Query("devicerate"));
    EXPECT_EQ(kFtInvalidParameter, d.FT_SetDataCharacteristics(h, 5, 0, 0));
    EXPECT_EQ(kFtInvalidParameter, d.FT_SetLatencyTimer(h, 1));
    EXPECT_EQ(kFtOk, d.FT_SetLatencyTimer(h, 2));
    EXPECT_EQ(2, d.SIM_Query("latency"));
    EXPECT_EQ(kFtInvalidParameter, d.FT_SetUSBParameters(h, 100, 0));
    EXPECT_EQ(kFtOk, d.FT_SetUSBParameters(h, 8192, 0));
    EXPECT_EQ(8192, d.SIM_Query("usbin"));
    EXPECT_EQ(kFtInvalidParameter, d.FT_Purge(h, 4));
    EXPECT_EQ(kFtOk, d.FT_Reload(0x0403, 0x6001));
    EXPECT_GE(d.SIM_Query("ftreloads"), 1);
    EXPECT_EQ(kFtOk, d.FT_CyclePort(h));
    EXPECT_EQ(1, d.SIM_Query("cycles"));
    EXPECT_EQ(kFtOk, d.FT_Rescan());
    EXPECT_EQ(2000, d.SIM_Query("readtimeout"));
    d.FT_Close(h);

    ASSERT_EQ(kFtOk, d.FT_Open(1, &h));
    ASSERT_EQ(kFtOk, d.FT_GetComPortNumber(h, &port));
    EXPECT_EQ(-1, port);
    d.FT_Close(h);
}

TEST_F(SimFtdi, PageReadAtRateCodeFourIsReadAfterSwitchingTo153600) {
    FT_HANDLE h = OpenPrepared(0x2101);
    WriteBytewiseAndDrain(h, Frame(L"BE4D4000000003" L"04"));
    EXPECT_EQ(kFtOk, d.FT_SetBaudRate(h, 153600));
    EXPECT_EQ(153600, d.SIM_Query("devicerate"));
    std::vector<Bytes> frames;
    ASSERT_TRUE(SplitPageFrames(Read(h, 3 * vxsim::kPageFrameSize), frames));
    ASSERT_EQ(3u, frames.size());
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0x40u + i, PageNumber(frames[i].data()));
        EXPECT_EQ(i, frames[i][10]);
        EXPECT_TRUE(CrcGood(frames[i].data(), frames[i].size()));
        EXPECT_TRUE(PageDataGood(frames[i].data()));
    }
    EXPECT_EQ(0, d.SIM_Query("garbledtohost"));
    // The tool is back at the base rate after its last page.
    EXPECT_EQ(38400, d.SIM_Query("toolrate"));
    ASSERT_EQ(kFtOk, d.FT_SetBaudRate(h, 38400));
    Write(h, ToolInfoRequest());
    EXPECT_EQ(std::string("9.1.V1.0.0"), [&] {
        const Bytes r = Read(h, 10);
        return std::string(r.begin(), r.end());
    }());
    d.FT_Close(h);
}

TEST_F(SimFtdi, PageReadAtRateCodeFourReadsGarbageWithoutTheSwitch) {
    FT_HANDLE h = OpenPrepared(0x2101);
    WriteBytewiseAndDrain(h, Frame(L"BE4D4000000003" L"04"));
    const Bytes got = Read(h, 3 * vxsim::kPageFrameSize);
    EXPECT_EQ(3 * vxsim::kPageFrameSize, got.size());
    EXPECT_FALSE(HasStartMarker(got));
    EXPECT_EQ(static_cast<long long>(got.size()), d.SIM_Query("garbledtohost"));
    d.FT_Close(h);
}

TEST_F(SimFtdi, HostBytesAtTheWrongRateNeverReachTheTool) {
    FT_HANDLE h = OpenPrepared(0x2101);
    ASSERT_EQ(kFtOk, d.FT_SetBaudRate(h, 115200));
    const Bytes request = ToolInfoRequest();
    Write(h, request);
    EXPECT_EQ(0, d.SIM_Query("commands"));
    EXPECT_EQ(static_cast<long long>(request.size()), d.SIM_Query("garbledtotool"));
    EXPECT_EQ(0, d.SIM_Query("rxqueue"));
    Bytes written(200);
    EXPECT_EQ(request.size(), d.SIM_GetWritten(0, written.data(), 200));
    written.resize(request.size());
    EXPECT_EQ(request, written);
    d.FT_Close(h);
}

TEST_F(SimFtdi, EventIsSignalledWhenBytesArriveAlsoLaterFromTheBackgroundThread) {
    FT_HANDLE h = OpenPrepared(0x2101);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(kFtOk, d.FT_SetEventNotification(h, kFtEventRxChar, event));
    ASSERT_EQ(0, d.SIM_Control("fault be09:delay=150#1"));
    // No call in between: only the library's own thread can deliver the
    // delayed reply and set the event.
    Write(h, ToolInfoRequest());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
    DWORD rx = 0;
    ASSERT_EQ(kFtOk, d.FT_GetQueueStatus(h, &rx));
    EXPECT_EQ(10u, rx);
    EXPECT_EQ(10u, Read(h, 10).size());

    Write(h, ToolInfoRequest());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
    EXPECT_EQ(10u, Read(h, 10).size());
    d.FT_Close(h);
    CloseHandle(event);
}

TEST_F(SimFtdi, TransmitQueueDrainsAtTheDeviceRateWhenPacedAndCanBeStuck) {
    FT_HANDLE h = OpenPrepared(0x2101);
    ASSERT_EQ(0, d.SIM_Control("pacing on"));
    ASSERT_EQ(kFtOk, d.FT_SetBaudRate(h, 300));  // 30 bytes a second
    Write(h, Bytes(3000, 0x00));
    DWORD rx = 0, tx = 0, ev = 0;
    ASSERT_EQ(kFtOk, d.FT_GetStatus(h, &rx, &tx, &ev));
    EXPECT_GT(tx, 2500u);
    ASSERT_EQ(kFtOk, d.FT_Purge(h, kFtPurgeTx));
    ASSERT_EQ(kFtOk, d.FT_GetStatus(h, &rx, &tx, &ev));
    EXPECT_EQ(0u, tx);

    ASSERT_EQ(0, d.SIM_Control("pacing off"));
    ASSERT_EQ(kFtOk, d.FT_SetBaudRate(h, 38400));
    ASSERT_EQ(0, d.SIM_Control("txstuck on"));
    Write(h, ToolInfoRequest());
    Sleep(20);
    ASSERT_EQ(kFtOk, d.FT_GetStatus(h, &rx, &tx, &ev));
    EXPECT_EQ(106u, tx);
    EXPECT_EQ(0u, rx);
    ASSERT_EQ(0, d.SIM_Control("txstuck off"));
    ASSERT_EQ(kFtOk, d.FT_GetStatus(h, &rx, &tx, &ev));
    EXPECT_EQ(0u, tx);
    EXPECT_EQ(10u, rx);
    d.FT_Close(h);
}

TEST_F(SimFtdi, WriteErrorFaultAndDisappearingDevice) {
    FT_HANDLE h = OpenPrepared(0x2101);
    ASSERT_EQ(0, d.SIM_Control("fault *:ioerror#1"));
    Bytes request = ToolInfoRequest();
    DWORD written = 0;
    EXPECT_EQ(kFtIoError, d.FT_Write(h, request.data(), static_cast<DWORD>(request.size()), &written));
    EXPECT_EQ(0u, written);
    Write(h, request);
    EXPECT_EQ(10u, Read(h, 10).size());

    ASSERT_EQ(0, d.SIM_Control("vanish"));
    EXPECT_EQ(kFtIoError, d.FT_Write(h, request.data(), static_cast<DWORD>(request.size()), &written));
    DWORD rx = 0, tx = 0, ev = 0, count = 0;
    EXPECT_EQ(kFtIoError, d.FT_GetStatus(h, &rx, &tx, &ev));
    ASSERT_EQ(kFtOk, d.FT_ListDevices(&count, nullptr, kFtListNumberOnly));
    EXPECT_EQ(2u, count);
    ASSERT_EQ(0, d.SIM_Control("return"));
    Write(h, request);
    EXPECT_EQ(10u, Read(h, 10).size());

    // Gone for a while on the tool's word, then back by itself.
    ASSERT_EQ(0, d.SIM_Control("fault be09:vanish=100#1"));
    Write(h, request);
    EXPECT_EQ(0, d.SIM_Query("present"));
    EXPECT_EQ(kFtIoError, d.FT_GetStatus(h, &rx, &tx, &ev));
    for (int i = 0; i < 500 && d.FT_GetStatus(h, &rx, &tx, &ev) != kFtOk; ++i) Sleep(10);
    EXPECT_EQ(1, d.SIM_Query("present"));
    Write(h, request);
    EXPECT_EQ(10u, Read(h, 10).size());
    d.FT_Close(h);
}

TEST_F(SimFtdi, ControlsRejectWhatTheyDoNotKnow) {
    EXPECT_EQ(-1, d.SIM_Control("bogus"));
    EXPECT_EQ(-1, d.SIM_Control(""));
    EXPECT_EQ(-1, d.SIM_Control(nullptr));
    EXPECT_EQ(-1, d.SIM_Control("fault be4d:nonsense"));
    EXPECT_EQ(-1, d.SIM_Control("pacing maybe"));
    EXPECT_EQ(-1, d.SIM_Control("toolinfo short"));
    EXPECT_EQ(-2, d.SIM_Control("dev:9 pacing on"));
    EXPECT_EQ(-1, d.SIM_Query("nothing"));
    EXPECT_EQ(-1, d.SIM_Query("dev:9 devicerate"));
    EXPECT_EQ(-1, d.SIM_Query(nullptr));
    EXPECT_EQ(0u, d.SIM_GetWritten(7, nullptr, 0));
    EXPECT_EQ(0, d.SIM_Control("dev:2 toolrate 115200"));
    EXPECT_EQ(115200, d.SIM_Query("dev:2 toolrate"));
    EXPECT_EQ(0, d.SIM_Control("dev:2 reset"));
    EXPECT_EQ(38400, d.SIM_Query("dev:2 toolrate"));
    EXPECT_EQ(3, d.SIM_Query("devices"));
}
