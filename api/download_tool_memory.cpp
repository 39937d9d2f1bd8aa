#include "api/download_tool_memory.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "api/command_exports.h"
#include "api/message_wait.h"
#include "api/progress_window.h"
#include "engine/log_text.h"
#include "ports/ftdi_port.h"
#include "protocol/page_frame.h"
#include "protocol/rate_codes.h"

namespace {

// The request being collected and what it has cost so far.
struct DownloadState {
    CRobotTool* robot;
    RobotHandle handle;
    PageList& pageList;
    WantedPages wanted;
    DownloadProgress progress;
    HWND window;
    int failures;
    // The request's fields, the same for every run.
    long baudRate;
    bool flag;
    const wchar_t* address;
};

// Takes the window down however the download ends, also when a log text
// that cannot be converted leaves it by an exception.
class ProgressWindowHold {
public:
    explicit ProgressWindowHold(HWND& window) : m_window(window) {}
    ~ProgressWindowHold() {
        RemoveProgressWindow(m_window);
        m_window = nullptr;
    }
    ProgressWindowHold(const ProgressWindowHold&) = delete;
    ProgressWindowHold& operator=(const ProgressWindowHold&) = delete;

private:
    HWND& m_window;
};

// Longest wait between two looks at the progress while no page comes.
constexpr DWORD kProgressTickMs = 50;

void Log(CRobotTool* robot, const std::string& line) {
    if (robot->HasLog()) robot->WriteLog(line);
}

std::string CommandText(const CRobotCommand& command) { return NarrowLogText(command.GetString()); }

// Polls until the request is complete or abandoned, keeping the window and
// the thread's messages alive. Null when nothing would ever end the request:
// the worker has stopped, or a message dispatched here destroyed the robot
// object, released its port or attached another.
CRobotCommand* AwaitRequest(DownloadState& state, long id) {
    // Woken by every page, the end of the request and every message; the
    // bound keeps the time estimate moving while the tool is silent.
    ReplyWatch watch(state.robot, static_cast<int>(id));
    for (;;) {
        CRobotCommand* command = state.robot->FindReply(static_cast<int>(id));
        if (command && (command->IsReplyComplete() || command->IsAbandoned())) return command;
        const unsigned long count = static_cast<unsigned long>(state.robot->GetPagesReceived());
        if (state.window) UpdateDownloadProgress(state.window, count);
        else AdvanceDownloadProgress(state.progress, nullptr, count);
        if (state.progress.m_cancel && state.window) EnableWindow(GetDlgItem(state.window, IDCANCEL), FALSE);
        if (!state.robot->IsPolling() || watch.Cut()) return nullptr;
        watch.Wait(kProgressTickMs);
    }
}

// Takes the good pages of a finished request into the list and off the
// wanted set; every bad part counts as a failure.
void CollectPages(DownloadState& state, const CRobotCommand& command) {
    for (const auto& part : command.Replies()) {
        const ReplyPart& reply = part.second;
        if (reply.size < pageframe::kMinPartSize || !reply.data) {
            if (state.robot->HasLog())
                Log(state.robot, "Bad reply to " + CommandText(command) + " -- size=" + std::to_string(reply.size));
            ++state.failures;
            continue;
        }
        char* copy = new char[reply.size];
        std::memcpy(copy, reply.data, static_cast<size_t>(reply.size));
        state.pageList.emplace_back(reply.size, copy);
        const uint32_t page = PageNumber(reinterpret_cast<const unsigned char*>(reply.data), reply.size);
        state.wanted.erase(static_cast<int32_t>(page));
    }
}

long IssueRun(DownloadState& state, const PageRun& run) {
    return state.robot->ReadFlashPages(run.start, run.length, state.baudRate, state.flag, state.address);
}

// Requests run after run until every page is in, the host cancels, the
// failures exceed the limit, or a request is refused.
void RequestPages(DownloadState& state) {
    CRobotTool* robot = state.robot;
    long id = state.wanted.empty() ? 0 : IssueRun(state, NextRun(state.wanted));
    while (id != 0 && !state.wanted.empty()) {
        CRobotCommand* command = AwaitRequest(state, id);
        if (!command) {
            // The worker is gone: nothing would ever end the request.
            state.failures = download::kMaxFailures + 1;
            robot->CancelPending();
            ROBOT_DeleteReply(state.handle, id);
            return;
        }
        if (!command->IsReplyComplete()) {
            Log(robot, "Incomplete response to  cmdID# " + std::to_string(id));
            ++state.failures;
        }
        if (command->IsAbandoned() && robot->HasLog()) Log(robot, "Abandoned: " + CommandText(*command));
        if (!state.progress.m_cancel) CollectPages(state, *command);
        ROBOT_DeleteReply(state.handle, id);

        if (state.progress.m_cancel || state.failures > download::kMaxFailures) {
            state.failures = download::kMaxFailures + 1;
            robot->CancelPending();
            return;
        }
        if (!state.wanted.empty()) {
            const PageRun run = NextRun(state.wanted);
            Log(robot, "Unread pages remaining.  Reissue request for " + std::to_string(run.length) +
                           " pages starting at page " + std::to_string(run.start));
            id = IssueRun(state, run);
        }
    }
}

} // namespace

long DownloadToolMemory(CRobotTool* robot, PageList& pageList, SAFEARRAY** pages, long baudRate, long timeoutMs,
                        bool flag, const wchar_t* address) {
    if (!robot || !robot->HasPort()) return download::kFailed;

    DownloadState state{robot, robot, pageList, WantedPages(), DownloadProgress(), nullptr, 0, baudRate, flag, address};
    // A list that is no list, or asks for more pages than any tool holds, is
    // refused before anything changes on the robot object or the screen.
    if (ReadWantedPages(pages, state.wanted) != PageListVerdict::kRead) return download::kFailed;

    robot->SetTimeout(static_cast<unsigned int>(timeoutMs));
    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    robot->ResetPagesReceived();
    DownloadProgress& progress = state.progress;
    progress.m_firstCount = static_cast<uint32_t>(robot->GetPagesReceived());
    progress.m_lastCount = progress.m_firstCount + static_cast<uint32_t>(state.wanted.size());
    progress.m_startTick = 0;
    progress.m_lastUpdate = 0;
    progress.m_cancel = false;
    CFTDIPort* ftdi = robot->GetFTDIPort();
    progress.m_baudRate = ftdi ? static_cast<uint32_t>(ftdi->GetBaudRate()) : kBaseRate;

    state.window = CreateProgressWindow(progress);
    {
        ProgressWindowHold hold(state.window);
        RequestPages(state);
    }

    if (progress.m_cancel || state.failures > download::kMaxFailures) FreePageBuffers(pageList);
    if (progress.m_cancel) return download::kCancelled;
    return state.failures <= download::kMaxFailures ? download::kFinished : download::kFailed;
}
