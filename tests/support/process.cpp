#include "support/process.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace vxproc {

namespace {
HANDLE Inheritable(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Text-mode output ends lines with CR LF; a lone CR (a progress bar) stays.
std::string ReadLines(const std::wstring& path) {
    std::ostringstream all;
    all << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
    std::string text = all.str();
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
}
} // namespace

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring WorkFolder() {
    static std::wstring folder;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (DWORD n = GetTickCount(); folder.empty(); ++n) {
        folder = std::wstring(temp) + L"vx-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n) + L"\\";
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS) folder.clear();
    }
    return folder;
}

Child::Child(const std::wstring& program, const std::wstring& args, const std::wstring& folder) {
    static int runs = 0;
    const std::wstring stem = WorkFolder() + L"child" + std::to_wstring(++runs);
    m_out = stem + L".out", m_err = stem + L".err";
    const std::wstring exe = program.find_first_of(L"\\/") == std::wstring::npos ? ExeFolder() + program : program;
    std::wstring command = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = Inheritable(m_out), si.hStdError = Inheritable(m_err);
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &m_info))
        m_info = PROCESS_INFORMATION();
    CloseHandle(si.hStdOutput), CloseHandle(si.hStdError);
}

Child::~Child() { Wait(0); }
std::string Child::OutputSoFar() const { return ReadLines(m_out); }
Result Run(const std::wstring& program, const std::wstring& args, DWORD timeoutMs) { return Child(program, args).Wait(timeoutMs); }

Result Child::Wait(DWORD timeoutMs) {
    Result result;
    if (m_info.hProcess) {
        DWORD code = 0;
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(m_info.hProcess, &code))
            result.exitCode = static_cast<int>(code);
        else TerminateProcess(m_info.hProcess, 99), WaitForSingleObject(m_info.hProcess, 5000);
        CloseHandle(m_info.hProcess), CloseHandle(m_info.hThread);
        m_info = PROCESS_INFORMATION();
    }
    result.out = ReadLines(m_out), result.err = ReadLines(m_err);
    return result;
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : m_name(name) {
    std::vector<wchar_t> old(32768);
    const DWORD n = GetEnvironmentVariableW(name, old.data(), 32768);
    m_had = n > 0 && n < 32768;
    if (m_had) m_old.assign(old.data(), n);
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

} // namespace vxproc
