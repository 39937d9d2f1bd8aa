#pragma once
// Notes the text of each library message box (title "vornex") and presses OK.
// A call that shows one returns after the press: its text is noted by then.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vxt {

class MessageBoxes {
public:
    MessageBoxes() : m_thread([this] {
        while (!m_stop) {
            HWND box = FindWindowW(L"#32770", L"vornex");
            if (!box) { Sleep(5); continue; }
            wchar_t text[512] = {};  // the box has its title, which finds it, before its text
            for (DWORD start = GetTickCount(); !GetDlgItemTextW(box, 0xFFFF, text, 512) && GetTickCount() - start < 2000;) Sleep(2);
            { std::lock_guard<std::mutex> hold(m_lock); m_texts.push_back(text); }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 5000;) Sleep(2);
        }
    }) {}
    ~MessageBoxes() { m_stop = true; m_thread.join(); }
    std::vector<std::wstring> Take() {  // the texts since the last call, in order
        std::lock_guard<std::mutex> hold(m_lock);
        return std::exchange(m_texts, {});
    }
private:
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace vxt
