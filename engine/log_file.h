#pragma once
// The robot's log file: narrow text lines, each in the file before the write
// returns, every line end stored as CR LF the way a text-mode stream stores it.
// A small writer of its own keeps the C++ stream and locale machinery out of
// the library.
#include <string>

class CLogFile {
public:
    // Creates or truncates path (ANSI code page). A file that cannot be opened,
    // or no path, leaves a silent log: every line is dropped.
    explicit CLogFile(const char* path);
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Writes line and a line end; a failed write silences the log for good.
    void WriteLine(const std::string& line);

private:
    bool Put(const char* bytes, unsigned long count);

    void* m_file;  // the file handle, null when silent
};
