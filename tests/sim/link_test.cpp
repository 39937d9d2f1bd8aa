// The simulated Ftd2xx.dll bound by name, as the library binds it, driven by
// its control texts. (The TCP server is every TCP test's other end: a fault
// in it fails those tests.)
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

#include "protocol/command_frame.h"
#include "sim/ftd2xx/d2xx_api.h"

typedef std::vector<uint8_t> Bytes;

namespace {

Bytes Frame(const wchar_t* text) { return EncodeCommand(text, std::wcslen(text), false, false); }

template <typename Fn>
Fn Bind(HMODULE m, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

} // namespace

TEST(SimFtdiDll, BoundByNameAndDrivenByItsControlTexts) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring bin = std::wstring(path).substr(0, std::wstring(path).find_last_of(L"\\/") + 1);
    HMODULE m = LoadLibraryW((bin + L"ftdisim\\Ftd2xx.dll").c_str());
    HMODULE norescan = LoadLibraryW((bin + L"ftdisim-norescan\\Ftd2xx.dll").c_str());
    ASSERT_TRUE(m && norescan && m != norescan);
    EXPECT_NE(nullptr, GetProcAddress(m, "FT_Rescan"));
    EXPECT_EQ(nullptr, GetProcAddress(norescan, "FT_Rescan"));
    auto control = Bind<decltype(&SIM_Control)>(m, "SIM_Control");
    auto list = Bind<decltype(&FT_ListDevices)>(m, "FT_ListDevices");
    auto openEx = Bind<decltype(&FT_OpenEx)>(m, "FT_OpenEx");
    auto write = Bind<decltype(&FT_Write)>(m, "FT_Write");
    auto read = Bind<decltype(&FT_Read)>(m, "FT_Read");
    auto status = Bind<decltype(&FT_GetStatus)>(m, "FT_GetStatus");
    auto close = Bind<decltype(&FT_Close)>(m, "FT_Close");
    ASSERT_TRUE(control && list && openEx && write && read && status && close);

    ASSERT_EQ(0, control("devices device description=\"Tool One\" location=0x2101|device location=0x2102"));
    DWORD count = 0, n = 0, rx = 0, tx = 0, ev = 0;
    ASSERT_TRUE(list(&count, nullptr, kFtListNumberOnly) == kFtOk && count == 2);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(kFtOk, openEx(reinterpret_cast<void*>(0x2101), kFtOpenByLocation, &h));
    Bytes f = Frame(L"BE010203"), in(12);
    ASSERT_EQ(0, control("fault *:ioerror#1"));
    EXPECT_EQ(kFtIoError, write(h, f.data(), static_cast<DWORD>(f.size()), &n));
    ASSERT_EQ(kFtOk, write(h, f.data(), static_cast<DWORD>(f.size()), &n));
    ASSERT_EQ(kFtOk, read(h, in.data(), 12, &n));
    EXPECT_TRUE(n == 12 && in[4] == 0xBE);

    ASSERT_EQ(0, control("txstuck=on"));  // the drain wait's stalled device
    ASSERT_EQ(kFtOk, write(h, f.data(), static_cast<DWORD>(f.size()), &n));
    ASSERT_EQ(kFtOk, status(h, &rx, &tx, &ev));
    EXPECT_EQ(f.size(), tx);
    ASSERT_EQ(0, control("vanish"));
    EXPECT_EQ(kFtIoError, status(h, &rx, &tx, &ev));
    ASSERT_EQ(0, control("return"));
    EXPECT_EQ(kFtOk, status(h, &rx, &tx, &ev));
    EXPECT_EQ(-1, control("pacing maybe"));
    EXPECT_EQ(-2, control("dev:9 pacing on"));
    EXPECT_EQ(kFtOk, close(h));
    EXPECT_EQ(kFtInvalidHandle, close(h));
    FreeLibrary(norescan);
}
