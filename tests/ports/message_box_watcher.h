#pragma once
// Finds the library's modal message boxes from a thread of its own, notes
// each box's text and presses OK, so that the code under test can go on.
// Boxes exist only with a display (the test script runs Xvfb).
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(const wchar_t* caption = L"vornex") : m_caption(caption) {
        m_thread = std::thread([this] { Watch(); });
    }
    ~MessageBoxWatcher() {
        m_stop = true;
        m_thread.join();
    }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // The texts of the boxes dismissed so far, oldest first.
    std::vector<std::wstring> Texts() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_texts;
    }
    // Waits up to ms for at least count boxes; returns the texts seen.
    std::vector<std::wstring> WaitFor(size_t count, DWORD ms = 5000) {
        const DWORD start = GetTickCount();
        while (Texts().size() < count && GetTickCount() - start < ms) Sleep(5);
        return Texts();
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(m_lock);
        m_texts.clear();
    }

private:
    void Watch() {
        while (!m_stop) {
            HWND box = FindWindowW(L"#32770", m_caption.c_str());
            if (!box) {
                Sleep(5);
                continue;
            }
            wchar_t text[512] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            {
                std::lock_guard<std::mutex> hold(m_lock);
                m_texts.push_back(text);
            }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            // The same box must not be counted twice: wait until it is gone.
            const DWORD start = GetTickCount();
            while (IsWindow(box) && GetTickCount() - start < 5000) Sleep(2);
        }
    }

    std::wstring m_caption;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};
