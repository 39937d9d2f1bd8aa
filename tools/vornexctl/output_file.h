#pragma once
// A file that appears whole or not at all: written as NAME.part beside its
// final place and renamed over NAME only once everything is in.
#include <windows.h>

#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false (with the system's reason) when the
    // folder does not exist or is not writable.
    bool Create(const std::wstring& path, std::string& error);
    bool Write(const void* data, size_t size, std::string& error);
    // Closes and renames over the final name (replacing an older file).
    bool Commit(std::string& error);
    // Closes and removes the temporary file, if any.
    void Discard();

private:
    std::wstring m_path;
    std::wstring m_tempPath;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

// The system's text for an error code, on one line.
std::string SystemMessage(DWORD code);
