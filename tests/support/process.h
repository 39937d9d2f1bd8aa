#pragma once
// A child process with its output in files: every wait is bounded, and a
// child still running when the wait or the object ends is terminated.
#include <windows.h>

#include <string>

namespace vxproc {

std::wstring ExeFolder();  // this test program's folder (bin\), with a trailing backslash
// A folder of this process's own, made on first use, with a trailing
// backslash; never one left by an earlier process (Wine reuses process IDs).
std::wstring WorkFolder();

struct Result {
    int exitCode = -1;  // -1: still running when the wait ended (then terminated)
    std::string out;    // standard output, console line ends made "\n"
    std::string err;
};

class Child {
public:
    // program: a full path or a name in ExeFolder(); folder: the working folder (empty: this process's).
    Child(const std::wstring& program, const std::wstring& args, const std::wstring& folder = std::wstring());
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Result Wait(DWORD timeoutMs);
    std::string OutputSoFar() const;
private:
    std::wstring m_out, m_err;
    PROCESS_INFORMATION m_info = {};
};

Result Run(const std::wstring& program, const std::wstring& args, DWORD timeoutMs = 60000);

// An environment variable for the children started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value);
    ~ScopedEnv();
private:
    std::wstring m_name, m_old;
    bool m_had = false;
};

} // namespace vxproc
