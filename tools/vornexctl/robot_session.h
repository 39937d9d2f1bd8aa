#pragma once
// One robot object on the link the command line names, from attach to
// release, in the order the library expects: create, attach, time limit,
// log, poll ... stop, destroy, release.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vornexctl/command_line.h"
#include "tools/vornexctl/vornex_library.h"

struct ReplyOutcome {
    enum Kind { kComplete, kAbandoned, kNoAnswer } kind = kNoAnswer;
    // Each reply part (one for an ordinary command), as received.
    std::vector<std::vector<uint8_t>> parts;
};

class RobotSession {
public:
    explicit RobotSession(VornexLibrary& vx) : m_vx(vx) {}
    ~RobotSession();
    RobotSession(const RobotSession&) = delete;
    RobotSession& operator=(const RobotSession&) = delete;

    // Attaches the link, sets the time limit and the log, starts polling.
    // False with a one-line reason (and the exit code) when the link does
    // not open.
    bool Open(const CtlCommand& command, const std::wstring& logPath, std::string& error, int& exitCode);
    void Close();

    ROBOT_HANDLE Robot() const { return m_robot; }
    unsigned TimeoutMs() const { return m_timeoutMs; }

    // Waits for the command with this ID to end, dispatching this thread's
    // messages meanwhile (a TCP link's notifications arrive as messages of
    // the thread that attached it). Gives up after twice the time limit
    // plus a margin, since the library abandons a command at its limit.
    ReplyOutcome WaitForReply(long id);

private:
    VornexLibrary& m_vx;
    ROBOT_HANDLE m_robot = nullptr;
    PORT_HANDLE m_port = nullptr;
    LinkKind m_link = LinkKind::kNone;
    unsigned m_timeoutMs = 2000;
    bool m_polling = false;
};

// Dispatches every message waiting for this thread.
void PumpThreadMessages();

// Whether the D2XX library can be loaded the way vornex.dll loads it. The
// library shows a message box when it cannot, which a console tool avoids.
bool FtdiLibraryPresent();

// Narrow text in the system code page (the log path is an ANSI path).
std::string ToAnsi(const std::wstring& text);

// "A5 5A 00 ..." for bytes.
std::string HexBytes(const std::vector<uint8_t>& bytes);
