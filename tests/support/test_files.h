#pragma once
// Small helpers for tests: temporary files and reading them back whole.
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

inline std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "vornex-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Polls cond every 5 ms until it holds or ms have passed.
template <typename Cond>
bool WaitUntil(Cond cond, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start >= ms) return cond();
        Sleep(5);
    }
    return true;
}
