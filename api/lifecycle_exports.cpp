#include "api/lifecycle_exports.h"

#include <new>

#include "api/robot_registry.h"
#include "engine/log_file.h"
#include "framework/module_state.h"

namespace {
// How long a destroy waits for other threads' waits to leave.
constexpr DWORD kOtherUsesMs = 5000;
}  // namespace

RobotHandle __stdcall ROBOT_Create() {
    VX_MANAGE_STATE();
    // The constructors allocate the receive buffer and the queues with
    // throwing new; running out of memory or handles gives no robot.
    CRobotTool* tool = nullptr;
    try {
        tool = new CRobotTool();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    // Without its events the worker could neither be woken nor waited for.
    if (!tool->HasWorkEvent() || !tool->CanPoll() || !RegisterRobot(tool)) {
        delete tool;
        return nullptr;
    }
    return tool;
}

BOOL __stdcall ROBOT_Destroy(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool || !tool->MarkDestroyed()) return false;
    UnregisterRobot(tool);
    tool->StopPolling();
    // Under the loader lock a worker that did not report its end in time
    // still runs the object's code: it is left in place rather than freed
    // under that worker.
    if (tool->WorkerMayRun()) return true;
    // Wakes every waiting host thread. Waits of other threads leave at once
    // and are waited for, so that the object is gone when this returns; a
    // wait of this very thread (a destroy from a message it dispatched), or
    // one that does not leave in time, deletes the object when it returns.
    tool->Detach();
    if (RobotUsesOfThisThread() == 0) {
        for (const DWORD start = GetTickCount(); tool->UsedBesidesTheHandle() && GetTickCount() - start < kOtherUsesMs;)
            Sleep(1);
    }
    if (tool->DropUse()) delete tool;
    return true;
}

BOOL __stdcall ROBOT_StartPolling(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->StartPolling() : false;
}

void __stdcall ROBOT_StopPolling(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return;
    tool->StopPolling();
    tool->CloseLog();
}

void __stdcall ROBOT_StartLogging(RobotHandle robot, const char* path) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return;
    // A file that cannot be opened (or no path) gives a silent log: lines are
    // dropped. No memory for the log object leaves logging off.
    tool->SetLog(new (std::nothrow) CLogFile(path));
}

BOOL __stdcall ROBOT_IsIdle(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? !tool->IsBusy() : false;
}

void __stdcall ROBOT_SetTimeout(RobotHandle robot, unsigned int ms) {
    VX_MANAGE_STATE();
    if (CRobotTool* tool = RobotFromHandle(robot)) tool->SetTimeout(ms);
}

void __stdcall ROBOT_SetKeepAlive(RobotHandle robot, int on) {
    VX_MANAGE_STATE();
    if (CRobotTool* tool = RobotFromHandle(robot)) tool->SetKeepAlive(on != 0);
}
