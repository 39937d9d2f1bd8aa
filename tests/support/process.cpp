#include "support/process.h"

#include <fstream>
#include <sstream>

namespace vxproc {

namespace {

HANDLE Inheritable(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Text-mode output ends lines with CR LF; a lone CR (a progress bar) stays.
std::string PlainLines(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
}

} // namespace

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring WorkFolder() {
    static std::wstring folder;
    if (folder.empty()) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        const std::wstring base = std::wstring(temp) + L"vx-" + std::to_wstring(GetCurrentProcessId()) + L"-";
        for (DWORD n = GetTickCount();; ++n) {
            folder = base + std::to_wstring(n) + L"\\";
            if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
    }
    return folder;
}

std::string ReadText(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Child::Child(const std::wstring& program, const std::wstring& args, const std::wstring& folder) {
    static int runs = 0;
    const std::wstring stem = WorkFolder() + L"child" + std::to_wstring(++runs);
    m_out = stem + L".out";
    m_err = stem + L".err";
    const std::wstring exe = program.find_first_of(L"\\/") == std::wstring::npos ? ExeFolder() + program : program;
    std::wstring command = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = Inheritable(m_out);
    si.hStdError = Inheritable(m_err);
    if (si.hStdOutput != INVALID_HANDLE_VALUE && si.hStdError != INVALID_HANDLE_VALUE &&
        !CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &m_info))
        m_info = PROCESS_INFORMATION();
    for (HANDLE h : {si.hStdOutput, si.hStdError})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

Child::~Child() {
    if (!Started()) return;
    if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_info.hProcess, 99);
    WaitForSingleObject(m_info.hProcess, 5000);
    CloseHandle(m_info.hProcess);
    CloseHandle(m_info.hThread);
}

Result Child::Wait(DWORD timeoutMs) {
    Result result;
    if (Started()) {
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(m_info.hProcess, &code);
            result.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
    }
    result.out = PlainLines(ReadText(m_out));
    result.err = PlainLines(ReadText(m_err));
    return result;
}

std::string Child::OutputSoFar() const { return PlainLines(ReadText(m_out)); }

Result Run(const std::wstring& program, const std::wstring& args, DWORD timeoutMs) {
    Child child(program, args);
    return child.Wait(timeoutMs);
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : m_name(name) {
    static wchar_t old[32768];
    const DWORD n = GetEnvironmentVariableW(name, old, 32768);
    m_had = n > 0 && n < 32768;
    if (m_had) m_old.assign(old, n);
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

} // namespace vxproc
