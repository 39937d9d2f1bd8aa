#include "product/ctl_process.h"

#include <fstream>
#include <sstream>

namespace ctltest {

namespace {

int g_runs = 0;

HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::wstring WorkDir() {
    static std::wstring dir;
    if (dir.empty()) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        // Process IDs come round again: a folder that already exists is
        // another run's.
        const std::wstring base = std::wstring(temp) + L"vornexctl-test-" + std::to_wstring(GetCurrentProcessId());
        for (DWORD n = GetTickCount();; ++n) {
            dir = base + L"-" + std::to_wstring(n) + L"\\";
            if (CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
    }
    return dir;
}

std::string ReadFileText(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    const std::string text = ReadFileText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Text-mode output ends lines with CR LF; a lone CR (the progress bar) stays.
static std::string UnixLines(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
}

CtlProcess::CtlProcess(const std::wstring& args, const std::wstring& program, const std::wstring& folder) {
    const int run = ++g_runs;
    m_outPath = WorkDir() + L"run" + std::to_wstring(run) + L".out";
    m_errPath = WorkDir() + L"run" + std::to_wstring(run) + L".err";
    HANDLE out = InheritableFile(m_outPath);
    HANDLE err = InheritableFile(m_errPath);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = err;
    const std::wstring exe = program.empty() ? BinDir() + L"vornexctl.exe" : program;
    std::wstring command = L"\"" + exe + L"\" " + args;
    m_started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                       folder.empty() ? nullptr : folder.c_str(), &si, &m_info) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
}

CtlProcess::~CtlProcess() {
    if (!m_started) return;
    if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_info.hProcess, 99);
    WaitForSingleObject(m_info.hProcess, 5000);
    CloseHandle(m_info.hProcess);
    CloseHandle(m_info.hThread);
}

CtlResult CtlProcess::Wait(DWORD timeoutMs) {
    CtlResult result;
    if (m_started) {
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(m_info.hProcess, &code);
            result.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
    }
    result.out = UnixLines(ReadFileText(m_outPath));
    result.err = UnixLines(ReadFileText(m_errPath));
    return result;
}

std::string CtlProcess::OutputSoFar() const { return UnixLines(ReadFileText(m_outPath)); }

CtlResult RunCtl(const std::wstring& args, DWORD timeoutMs) {
    CtlProcess process(args);
    return process.Wait(timeoutMs);
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : m_name(name) {
    wchar_t old[32768];
    const DWORD n = GetEnvironmentVariableW(name, old, 32768);
    m_had = n > 0 && n < 32768;
    if (m_had) m_old.assign(old, n);
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

} // namespace ctltest
