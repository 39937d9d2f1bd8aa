#pragma once
// The subcommands of vornexctl; each returns the program's exit code.
#include <string>

#include "tools/vornexctl/command_line.h"
#include "tools/vornexctl/vornex_library.h"

int RunPorts(VornexLibrary& vx);
int RunFtdi(VornexLibrary& vx);
int RunInfo(VornexLibrary& vx, const CtlCommand& command);
int RunSend(VornexLibrary& vx, const CtlCommand& command);
int RunDownload(VornexLibrary& vx, const CtlCommand& command);
int RunSim(const CtlCommand& command);

// Prints "vornexctl: message" on stderr and returns code.
int Fail(int code, const std::string& message);
