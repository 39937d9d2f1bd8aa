// info and send: one command after another, each reply printed as it ends.
#include <cstdio>

#include "tools/vornexctl/commands.h"
#include "tools/vornexctl/exit_codes.h"
#include "tools/vornexctl/robot_session.h"

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "vornexctl: %s\n", message.c_str());
    std::fflush(stderr);
    return code;
}

namespace {

bool IsPrintable(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes)
        if (b < 0x20 || b >= 0x7F) return false;
    return !bytes.empty();
}

} // namespace

int RunInfo(VornexLibrary& vx, const CtlCommand& command) {
    RobotSession session(vx);
    std::string error;
    int code = 0;
    if (!session.Open(command, command.logPath, error, code)) return Fail(code, error);
    const long id = vx.GetToolInfo(session.Robot());
    const ReplyOutcome reply = session.WaitForReply(id);
    session.Close();
    if (reply.kind != ReplyOutcome::kComplete || reply.parts.empty())
        return Fail(kExitNoAnswer, "the tool did not answer the information request within " +
                                       std::to_string(command.timeoutMs) + " ms");
    const std::vector<uint8_t>& text = reply.parts.front();
    if (IsPrintable(text))
        std::printf("tool information: %s\n", std::string(text.begin(), text.end()).c_str());
    else
        std::printf("tool information (hex): %s\n", HexBytes(text).c_str());
    return kExitOk;
}

int RunSend(VornexLibrary& vx, const CtlCommand& command) {
    RobotSession session(vx);
    std::string error;
    int code = 0;
    if (!session.Open(command, command.logPath, error, code)) return Fail(code, error);
    int abandoned = 0;
    for (const std::wstring& text : command.hexCommands) {
        const long id = vx.SendCommand(session.Robot(), text.c_str());
        const ReplyOutcome reply = session.WaitForReply(id);
        const std::string shown = Printable(text);
        switch (reply.kind) {
        case ReplyOutcome::kComplete:
            if (reply.parts.size() <= 1) {
                const std::vector<uint8_t> bytes = reply.parts.empty() ? std::vector<uint8_t>() : reply.parts.front();
                std::printf("%s: complete, %u bytes: %s\n", shown.c_str(), static_cast<unsigned>(bytes.size()),
                            HexBytes(bytes).c_str());
            } else {
                std::printf("%s: complete, %u parts\n", shown.c_str(), static_cast<unsigned>(reply.parts.size()));
                for (size_t k = 0; k < reply.parts.size(); ++k)
                    std::printf("  part %u: %s\n", static_cast<unsigned>(k), HexBytes(reply.parts[k]).c_str());
            }
            break;
        case ReplyOutcome::kAbandoned:
            std::printf("%s: abandoned (no good reply within %u ms)\n", shown.c_str(), command.timeoutMs);
            ++abandoned;
            break;
        case ReplyOutcome::kNoAnswer:
            std::printf("%s: no result from the library\n", shown.c_str());
            ++abandoned;
            break;
        }
        std::fflush(stdout);
    }
    session.Close();
    if (abandoned > 0)
        return Fail(kExitNoAnswer, std::to_string(abandoned) + " of " + std::to_string(command.hexCommands.size()) +
                                       " commands got no reply");
    return kExitOk;
}
