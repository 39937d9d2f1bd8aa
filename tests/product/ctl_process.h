#pragma once
// vornexctl.exe run as a child process with its output in files; every wait
// is bounded and a child still running at the end is terminated.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ctltest {

// The folder of the test program (bin/), with a trailing backslash.
std::wstring BinDir();
// A fresh folder for this test program's files, with a trailing backslash.
std::wstring WorkDir();

std::string ReadFileText(const std::wstring& path);
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
std::wstring Widen(const std::string& text);

struct CtlResult {
    int exitCode = -1;  // -1: still running when the wait ended (then terminated)
    std::string out;
    std::string err;
};

class CtlProcess {
public:
    // Starts program (vornexctl.exe in bin/ by default) with the arguments,
    // in folder (the test's own working folder by default).
    explicit CtlProcess(const std::wstring& args, const std::wstring& program = std::wstring(),
                        const std::wstring& folder = std::wstring());
    ~CtlProcess();
    CtlProcess(const CtlProcess&) = delete;
    CtlProcess& operator=(const CtlProcess&) = delete;

    bool Started() const { return m_started; }
    DWORD ProcessId() const { return m_info.dwProcessId; }
    // Waits at most timeoutMs; the result holds the output so far, with the
    // console's line ends as "\n".
    CtlResult Wait(DWORD timeoutMs);
    std::string OutputSoFar() const;

private:
    std::wstring m_outPath;
    std::wstring m_errPath;
    PROCESS_INFORMATION m_info = {};
    bool m_started = false;
};

// Runs vornexctl to its end (at most timeoutMs).
CtlResult RunCtl(const std::wstring& args, DWORD timeoutMs = 60000);

// Sets an environment variable for the children started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value);
    ~ScopedEnv();

private:
    std::wstring m_name;
    std::wstring m_old;
    bool m_had = false;
};

} // namespace ctltest
