// sim: the tool simulator, by running vornex-sim.exe from the program's
// folder with the same arguments, so the two always take the same options.
#include <windows.h>

#include "tools/vornexctl/commands.h"
#include "tools/vornexctl/exit_codes.h"

namespace {

// One argument quoted the way the C runtime splits a command line again.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// Ctrl+C reaches the simulator too; vornexctl only waits for it to end.
BOOL WINAPI IgnoreCtrlC(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

} // namespace

int RunSim(const CtlCommand& command) {
    const std::wstring program = ProgramFolder() + L"vornex-sim.exe";
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail(kExitMissingProgram, "vornex-sim.exe is not beside vornexctl.exe");
    std::wstring line = Quoted(program);
    for (const std::wstring& arg : command.simArgs) line += L" " + Quoted(arg);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    std::fflush(stdout);
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return Fail(kExitMissingProgram, "cannot start vornex-sim.exe (error " + std::to_string(GetLastError()) + ")");
    SetConsoleCtrlHandler(IgnoreCtrlC, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
