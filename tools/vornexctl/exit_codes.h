#pragma once
// Exit codes of vornexctl; scripts and the user guide rely on them.
enum ExitCode {
    kExitOk = 0,
    kExitNoAnswer = 1,       // a command was abandoned, the download failed or came back incomplete
    kExitUsage = 2,          // bad command line: unknown command or option, bad hex, bad number
    kExitLinkFailed = 3,     // the COM port, TCP connection or FTDI device did not open
    kExitFileFailed = 4,     // the output file could not be written
    kExitCancelled = 5,      // the download was cancelled (Cancel button or Ctrl+C)
    kExitMissingProgram = 6, // vornex.dll, one of its exports, or vornex-sim.exe is missing
};
