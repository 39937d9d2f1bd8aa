// vornexctl: a console host of vornex.dll for bringing up a tool on a bench:
// list ports and FTDI devices, ask the tool for its information, send
// commands, download flash pages, and run the tool simulator.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/vornexctl/command_line.h"
#include "tools/vornexctl/commands.h"
#include "tools/vornexctl/exit_codes.h"
#include "tools/vornexctl/vornex_library.h"

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < argc; ++i) args.push_back(argv[i]);
    if (argv) LocalFree(argv);

    CtlCommand command;
    std::string error;
    if (!ParseCtlCommandLine(args, command, error)) {
        std::fprintf(stderr, "vornexctl: %s\n%s", error.c_str(), kCtlUsage);
        return kExitUsage;
    }
    if (command.name == L"help") {
        std::fputs(kCtlUsage, stdout);
        return kExitOk;
    }
    if (command.name == L"sim") return RunSim(command);

    VornexLibrary vx;
    if (!vx.Load(error)) return Fail(kExitMissingProgram, error);
    // Host arrays and strings are OLE Automation types.
    OleInitialize(nullptr);
    int code = kExitUsage;
    if (command.name == L"ports") code = RunPorts(vx);
    else if (command.name == L"ftdi") code = RunFtdi(vx);
    else if (command.name == L"info") code = RunInfo(vx, command);
    else if (command.name == L"send") code = RunSend(vx, command);
    else if (command.name == L"download") code = RunDownload(vx, command);
    std::fflush(stdout);
    OleUninitialize();
    return code;
}
