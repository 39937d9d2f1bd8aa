#include "tools/vornexctl/robot_session.h"

#include <oleauto.h>

#include "tools/vornexctl/exit_codes.h"

void PumpThreadMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit for the caller's own checks.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool FtdiLibraryPresent() {
    HMODULE d2xx = LoadLibraryW(L"Ftd2xx.dll");
    if (!d2xx) return false;
    FreeLibrary(d2xx);
    return true;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

RobotSession::~RobotSession() { Close(); }

bool RobotSession::Open(const CtlCommand& c, const std::wstring& logPath, std::string& error, int& exitCode) {
    exitCode = kExitLinkFailed;
    m_timeoutMs = c.timeoutMs;
    const bool ftdi = c.link == LinkKind::kFtdiDescription || c.link == LinkKind::kFtdiLocation ||
                      c.link == LinkKind::kFtdiIndex;
    if (ftdi && !FtdiLibraryPresent()) {
        error = "Ftd2xx.dll not found: the FTDI D2XX driver is not installed";
        return false;
    }
    m_robot = m_vx.Create();
    if (!m_robot) {
        error = "cannot create a robot object";
        return false;
    }
    switch (c.link) {
    case LinkKind::kTcp:
        m_port = m_vx.AttachTcpPort(m_robot, c.host.c_str(), c.tcpPort, c.timeoutMs);
        if (!m_port)
            error = "cannot connect to " + Printable(c.host) + ":" + std::to_string(c.tcpPort) + " within " +
                    std::to_string(c.timeoutMs) + " ms";
        break;
    case LinkKind::kCom:
        m_port = m_vx.AttachSerialPort(m_robot, c.com);
        if (!m_port) error = "cannot open COM" + std::to_string(c.com);
        break;
    case LinkKind::kFtdiDescription:
        m_port = m_vx.AttachFtdiDevice(m_robot, c.ftdiDescription.c_str());
        if (!m_port) error = "cannot open the FTDI device \"" + Printable(c.ftdiDescription) + "\"";
        break;
    case LinkKind::kFtdiLocation:
        m_port = m_vx.AttachFtdiDeviceByLoc(m_robot, c.ftdiNumber);
        if (!m_port) error = "cannot open the FTDI device at location " + std::to_string(c.ftdiNumber);
        break;
    case LinkKind::kFtdiIndex:
        m_port = m_vx.AttachFtdiDeviceByIndex(m_robot, c.ftdiNumber);
        if (!m_port) error = "cannot open the FTDI device with index " + std::to_string(c.ftdiNumber);
        break;
    case LinkKind::kNone:
        error = "no link given";
        exitCode = kExitUsage;
        break;
    }
    if (!m_port) {
        Close();
        return false;
    }
    m_link = c.link;
    m_vx.SetTimeout(m_robot, c.timeoutMs);
    if (!logPath.empty()) m_vx.StartLogging(m_robot, ToAnsi(logPath).c_str());
    if (!m_vx.StartPolling(m_robot)) {
        error = "the robot object did not start polling";
        Close();
        return false;
    }
    m_polling = true;
    exitCode = 0;
    return true;
}

void RobotSession::Close() {
    if (m_robot) {
        // Stopping also closes the log.
        m_vx.StopPolling(m_robot);
        m_vx.Destroy(m_robot);
        m_robot = nullptr;
        m_polling = false;
    }
    // The robot object never frees its port; the host does, last.
    if (m_port) {
        switch (m_link) {
        case LinkKind::kTcp: m_vx.ReleaseTcpPort(m_port); break;
        case LinkKind::kCom: m_vx.ReleaseSerialPort(m_port); break;
        default: m_vx.ReleaseFtdiDevice(m_port); break;
        }
        m_port = nullptr;
    }
}

namespace {

// The reply array as parts: a vector is one part; a matrix holds byte j of
// part k at (j, k), so part k is column k, trimmed of nothing (parts shorter
// than the widest are padded with zeros by the library).
std::vector<std::vector<uint8_t>> ReplyParts(SAFEARRAY* reply) {
    std::vector<std::vector<uint8_t>> parts;
    const UINT dims = SafeArrayGetDim(reply);
    if (dims != 1 && dims != 2) return parts;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(reply, 1, &lower);
    SafeArrayGetUBound(reply, 1, &upper);
    const long width = upper >= lower ? upper - lower + 1 : 0;
    long partCount = 1;
    if (dims == 2) {
        LONG lower2 = 0, upper2 = -1;
        SafeArrayGetLBound(reply, 2, &lower2);
        SafeArrayGetUBound(reply, 2, &upper2);
        partCount = upper2 >= lower2 ? upper2 - lower2 + 1 : 0;
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(reply, &data))) return parts;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (long k = 0; k < partCount; ++k)
        parts.emplace_back(bytes + static_cast<size_t>(k) * width, bytes + static_cast<size_t>(k + 1) * width);
    SafeArrayUnaccessData(reply);
    return parts;
}

} // namespace

ReplyOutcome RobotSession::WaitForReply(long id) {
    ReplyOutcome outcome;
    const DWORD start = GetTickCount();
    const DWORD limit = 2 * m_timeoutMs + 3000;
    for (;;) {
        PumpThreadMessages();
        SAFEARRAY* reply = nullptr;
        const long size = m_vx.GetReplyBytes(m_robot, id, &reply);
        if (size == -1) {
            outcome.kind = ReplyOutcome::kAbandoned;
            break;
        }
        if (size == -2) {
            outcome.kind = ReplyOutcome::kComplete;  // finished, but too big to copy out
            break;
        }
        // A finished reply always comes with an array, even an empty one.
        if (reply) {
            outcome.kind = ReplyOutcome::kComplete;
            outcome.parts = ReplyParts(reply);
            SafeArrayDestroy(reply);
            break;
        }
        if (GetTickCount() - start >= limit) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    m_vx.DeleteReply(m_robot, id);
    return outcome;
}
