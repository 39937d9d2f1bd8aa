// The simulator behind real links as the library's tests reach it: the TCP
// server (answers, faults, a dropped connection and the next one served) and
// the simulated Ftd2xx.dll bound by name, driven by its control texts.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <cwchar>
#include <tuple>

#include "protocol/command_frame.h"
#include "sim/ftd2xx/d2xx_api.h"
#include "sim/reply_frames.h"
#include "sim/server/sim_server.h"

typedef std::vector<uint8_t> Bytes;

namespace {

Bytes Frame(const wchar_t* text) { return EncodeCommand(text, std::wcslen(text), false, false); }

// Up to n bytes within 5 s.
Bytes Exchange(SOCKET s, const Bytes& out, size_t n) {
    send(s, reinterpret_cast<const char*>(out.data()), static_cast<int>(out.size()), 0);
    Bytes in(n);
    size_t got = 0;
    for (int r = 1; got < n && r > 0; got += r > 0 ? static_cast<size_t>(r) : 0)
        r = recv(s, reinterpret_cast<char*>(&in[got]), static_cast<int>(n - got), 0);
    in.resize(got);
    return in;
}

SOCKET Connect(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DWORD ms = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    EXPECT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
    return s;
}

template <typename Fn>
Fn Bind(HMODULE m, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

} // namespace

TEST(SimServerTcp, AnswersInjectsFaultsAndServesTheNextConnection) {
    vxsim::SimServer sim;
    const int port = sim.ListenTcp();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(sim.Configure("fault=be4d:droppage=1#1"));
    SOCKET s = Connect(port);
    const Bytes payload = {0xBE, 0x01, 0x02, 0x03};
    EXPECT_EQ(vxsim::BuildReplyFrame(payload.data(), payload.size()), Exchange(s, Frame(L"BE010203"), 12));
    const Bytes request = Frame(L"BE4D0000000003" L"00");
    EXPECT_EQ(2 * vxsim::kPageFrameSize, Exchange(s, request, 2 * vxsim::kPageFrameSize).size());
    sim.CloseConnection();
    char byte;
    EXPECT_LE(recv(s, &byte, 1, 0), 0);  // the tool's end closed
    closesocket(s);
    s = Connect(port);
    EXPECT_EQ(3 * vxsim::kPageFrameSize, Exchange(s, request, 3 * vxsim::kPageFrameSize).size());
    closesocket(s);
    EXPECT_EQ(std::make_tuple(3u, 2u, 1u), std::make_tuple(sim.CommandCount(), sim.Connections(), sim.FaultsFired()));
}

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
