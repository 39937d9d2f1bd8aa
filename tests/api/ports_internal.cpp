// White-box, in a process that does not link vornex.dll: the FTDI binding
// without its library and with one that lacks FT_Rescan (message boxes under
// the test display), and the library unloaded while socket notifications
// are still queued for it.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ports/ftdi_port.h"
#include "support/loopback.h"

namespace {

// Notes the text of each of the library's message boxes and presses OK.
class Boxes {
public:
    Boxes() : m_thread([this] { Watch(); }) {}
    ~Boxes() { m_stop = true; m_thread.join(); }
    std::vector<std::wstring> Take(size_t count) {
        for (DWORD start = GetTickCount(); Count() < count && GetTickCount() - start < 5000;) Sleep(5);
        Sleep(50);
        std::lock_guard<std::mutex> hold(m_lock);
        std::vector<std::wstring> texts;
        texts.swap(m_texts);
        return texts;
    }

private:
    size_t Count() { std::lock_guard<std::mutex> hold(m_lock); return m_texts.size(); }
    void Watch() {
        while (!m_stop) {
            HWND box = FindWindowW(L"#32770", L"vornex");
            if (!box) { Sleep(5); continue; }
            wchar_t text[512] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            { std::lock_guard<std::mutex> hold(m_lock); m_texts.push_back(text); }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 5000;) Sleep(2);
        }
    }
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};

}  // namespace

TEST(FtdiBinding, WithoutTheLibraryEachCallShowsItsOwnBoxAndGivesStatusOne) {
    Boxes boxes;
    SetDllDirectoryW(nullptr);
    {
        CFTDIPort port;
        EXPECT_EQ(boxes.Take(1), std::vector<std::wstring>{L"Error: Can't Load ftd2xx.dll"});
        EXPECT_FALSE(port.IsLibraryLoaded());
        DWORD a = 0, b = 0, c = 0;
        EXPECT_EQ(port.GetStatus(&a, &b, &c), 1u);
        EXPECT_EQ(boxes.Take(1), std::vector<std::wstring>{L"FT_GetStatus is not valid!"});
        EXPECT_EQ(port.Write(&a, 1, &b), 1u);
        EXPECT_EQ(boxes.Take(1), std::vector<std::wstring>{L"FT_Write is not valid!"});
        EXPECT_EQ(port.SetBaudRate(9600), 1u);
        EXPECT_EQ(boxes.Take(1), std::vector<std::wstring>{L"FT_SetBaudRate is not valid!"});
        EXPECT_EQ(port.GetBaudRate(), 38400u);  // recorded only on success
        EXPECT_EQ(port.CyclePort(), 1u);
        const std::vector<std::wstring> cycle = boxes.Take(1);
        ASSERT_EQ(cycle.size(), 1u);
        EXPECT_NE(cycle[0].find(L"FT_CyclePort"), std::wstring::npos);
    }
    EXPECT_TRUE(boxes.Take(0).empty()) << "destruction showed a box";
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    SetDllDirectoryW((std::wstring(exe).substr(0, std::wstring(exe).find_last_of(L"\\/")) + L"\\ftdisim-norescan").c_str());
    {
        CFTDIPort port;
        EXPECT_EQ(boxes.Take(1), std::vector<std::wstring>{L"Error: Can't Find FT_Rescan"});
        EXPECT_EQ(port.BoundFunctionCount(), CFTDIPort::kFunctionCount - 1);
        DWORD devices = 0;
        EXPECT_EQ(port.ListDevices(&devices, nullptr, 0x80000000), 0u);  // the rest works
        ASSERT_EQ(port.Open(0), 0u);
        EXPECT_EQ(port.SetBaudRate(115200), 0u);
        EXPECT_EQ(port.GetBaudRate(), 115200u);
        port.Close();
        EXPECT_TRUE(boxes.Take(0).empty());
    }
    SetDllDirectoryW(nullptr);
}

TEST(LibraryUnload, NotificationsQueuedAfterUnloadAreHarmlessAndAReloadWorks) {
    int port = -1;
    SOCKET listener = vxt::Listen(port);
    ASSERT_NE(listener, INVALID_SOCKET);
    auto pump = [](DWORD ms) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5)) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
    };
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
        Sleep(100);  // connect, write and read notifications wait undispatched
        release(tcp);
        destroy(robot);
        FreeLibrary(library);
        EXPECT_EQ(GetModuleHandleW(L"vornex.dll"), nullptr);
        pump(200);  // what was queued goes to the system's window procedure
        closesocket(peer);
    }
    closesocket(listener);
}
