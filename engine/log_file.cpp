#include "engine/log_file.h"

#include <windows.h>

CLogFile::CLogFile(const char* path) : m_file(nullptr) {
    if (!path) return;
    // Readers may open the log while it is written, as with a C stream.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) m_file = file;
}

CLogFile::~CLogFile() {
    if (m_file) CloseHandle(m_file);
}

void CLogFile::WriteLine(const std::string& line) {
    // Translated through a small buffer: one write for an ordinary line and
    // no allocation while logging.
    char buffer[512];
    unsigned long used = 0;
    auto add = [&](char c) {
        if (used == sizeof buffer) {
            if (!Put(buffer, used)) return false;
            used = 0;
        }
        buffer[used++] = c;
        return true;
    };
    for (char c : line) {
        if (c == '\n' && !add('\r')) return;
        if (!add(c)) return;
    }
    if (add('\r') && add('\n')) Put(buffer, used);
}

bool CLogFile::Put(const char* bytes, unsigned long count) {
    if (!m_file) return false;
    DWORD written = 0;
    if (WriteFile(m_file, bytes, count, &written, nullptr) && written == count) return true;
    // Like a stream gone bad: later lines are dropped.
    CloseHandle(m_file);
    m_file = nullptr;
    return false;
}
