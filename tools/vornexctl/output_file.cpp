#include "tools/vornexctl/output_file.h"

#include "tools/vornexctl/command_line.h"

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text ? text : L"";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : Printable(message);
}

bool OutputFile::Create(const std::wstring& path, std::string& error) {
    Discard();
    m_path = path;
    m_tempPath = path + L".part";
    m_file = CreateFileW(m_tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        error = "cannot write " + Printable(m_tempPath) + ": " + SystemMessage(GetLastError());
        m_tempPath.clear();
        return false;
    }
    return true;
}

bool OutputFile::Write(const void* data, size_t size, std::string& error) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (m_file == INVALID_HANDLE_VALUE || !WriteFile(m_file, bytes, chunk, &written, nullptr) || written != chunk) {
            error = "cannot write " + Printable(m_tempPath) + ": " + SystemMessage(GetLastError());
            return false;
        }
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool OutputFile::Commit(std::string& error) {
    if (m_file == INVALID_HANDLE_VALUE) {
        error = "no output file open";
        return false;
    }
    const bool flushed = FlushFileBuffers(m_file) != 0;
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    if (!flushed || !MoveFileExW(m_tempPath.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot write " + Printable(m_path) + ": " + SystemMessage(GetLastError());
        DeleteFileW(m_tempPath.c_str());
        m_tempPath.clear();
        return false;
    }
    m_tempPath.clear();
    return true;
}

void OutputFile::Discard() {
    if (m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    if (!m_tempPath.empty()) {
        DeleteFileW(m_tempPath.c_str());
        m_tempPath.clear();
    }
}
