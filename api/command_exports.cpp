#include "api/command_exports.h"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "api/message_wait.h"
#include "api/safearray_matrix.h"
#include "api/safearray_read.h"
#include "api/safearray_write.h"
#include "common/com_error.h"
#include "framework/module_state.h"
#include "protocol/hex_text.h"

namespace {

// The reply of a command with two or more parts, as a matrix: byte j of part
// k at (j, k), shorter parts zero-padded. Returns the width, 0 when the walk
// yields nothing, -2 when the array cannot be made.
long RepliesToMatrix(CRobotCommand* record, SAFEARRAY** reply) {
    if (!record->StartReplyWalk()) return 0;
    long widest = 0;
    long parts = 0;
    do {
        if (record->GetReplySize() > widest) widest = record->GetReplySize();
        ++parts;
    } while (record->NextReply());
    ReleaseHeldArray(reply);
    SAFEARRAY* matrix = CreateByteMatrix(static_cast<unsigned long>(widest), static_cast<unsigned long>(parts));
    if (!matrix) return -2;
    *reply = matrix;
    long part = 0;
    record->StartReplyWalk();
    do {
        const char* data = record->GetReplyData();
        for (long j = 0; data && j < record->GetReplySize(); ++j)
            PutMatrixByte(matrix, j, part, static_cast<unsigned char>(data[j]));
        ++part;
    } while (record->NextReply());
    return widest;
}

// The command's text, as the command will hold it. No memory for it raises
// _com_error (E_OUTOFMEMORY), like every failed copy of a string.
template <typename Make>
CString CommandText(Make make) {
    try {
        return make();
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);
    }
}

// The new command's ID, or 0 when memory ran out while queueing it. Its log
// line raises _com_error of its own (E_OUTOFMEMORY) and is not caught here.
template <typename Issue>
long IssueOrNone(Issue issue) {
    try {
        return issue();
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

long __stdcall ROBOT_SendCommand(RobotHandle robot, const wchar_t* text) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    CString copy = CommandText([&] { return CString(text); });
    return IssueOrNone([&] { return tool->Issue(std::move(copy), eStandard, false, false); });
}

long __stdcall ROBOT_SendCommandBytes(RobotHandle robot, SAFEARRAY** bytes, long kind) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    unsigned int count = 0;
    std::unique_ptr<unsigned short[]> values(SafeArrayToShorts(bytes, &count));
    if (!values) return 0;
    // Bytes that already begin with the start marker are a whole frame.
    const bool preFramed = count >= 3 && values[0] == 0x00A5 && values[1] == 0x005A;
    const bool addressed = preFramed && (values[2] & 0x01) != 0;
    const eCommand command = kind == 0 ? eStandard : static_cast<eCommand>(kind);
    CString text = CommandText([&] {
        std::wstring hex;
        hex.reserve(count * 2);
        for (unsigned int i = 0; i < count; ++i) {
            const unsigned char low = static_cast<unsigned char>(values[i] & 0xFF);
            hex += BytesToHexText(&low, 1);
        }
        return CString(std::move(hex));
    });
    return IssueOrNone([&] { return tool->Issue(std::move(text), command, addressed, preFramed); });
}

long __stdcall ROBOT_GetToolInfo(RobotHandle robot) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    return IssueOrNone([&] { return tool->Issue(CString(L"BE09"), eToolInfo, false, false); });
}

long __stdcall ROBOT_WriteToPort(RobotHandle robot, SAFEARRAY** bytes, long length) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    unsigned int count = 0;
    std::unique_ptr<unsigned char[]> buffer(SafeArrayToBytes(bytes, &count));
    if (!buffer) return 0;
    if (tool->IsBusy()) return -1;
    const int n = (length >= 1 && static_cast<unsigned long>(length) <= count) ? static_cast<int>(length)
                                                                                : static_cast<int>(count);
    return tool->WriteToPort(reinterpret_cast<char*>(buffer.get()), n) ? 1 : 0;
}

CRobotCommand* __stdcall ROBOT_GetReply(RobotHandle robot, long id) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->FindReply(static_cast<int>(id)) : nullptr;
}

CRobotCommand* __stdcall ROBOT_WaitReply(RobotHandle robot, long id, unsigned long timeoutMs) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return nullptr;
    RobotUse use(tool);
    return tool->WaitReply(static_cast<int>(id), static_cast<unsigned int>(timeoutMs));
}

BOOL __stdcall ROBOT_DeleteReply(RobotHandle robot, long id) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    return tool ? tool->DeleteReply(static_cast<int>(id)) : false;
}

long __stdcall ROBOT_GetReplyBytes(RobotHandle robot, long id, SAFEARRAY** reply) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    CLockHold hold(*tool);  // the record stays while its bytes are copied out
    CRobotCommand* record = tool->FindReply(static_cast<int>(id));
    if (!record) return 0;
    if (!record->IsReplyComplete()) return record->IsAbandoned() ? -1 : 0;
    if (record->GetReplyCount() < 2) {
        BytesToSafeArray(record->GetReplyData(), record->GetReplySize(), reply);
        return record->GetReplySize();
    }
    return RepliesToMatrix(record, reply);
}

long __stdcall ROBOT_WaitReplyBytes(RobotHandle robot, long id, unsigned long timeoutMs, SAFEARRAY** reply) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    RobotUse use(tool);
    if (tool->GetTcpPort()) {
        // The TCP port's notifications are messages of this thread: keep
        // them flowing while waiting.
        const DWORD start = GetTickCount();
        DWORD waitMs = timeoutMs;
        if (GetTickCount() - start >= waitMs) return 0;  // always so for 0
        // Woken the moment the record changes or a message arrives.
        ReplyWatch watch(tool, static_cast<int>(id));
        for (;;) {
            if (!PumpPendingMessages()) waitMs = 0;  // quit: stop waiting
            // A message may have destroyed the robot object, released its
            // port or attached another: the record is gone for good.
            if (watch.Cut()) return 0;
            if (tool->FindReply(static_cast<int>(id))) break;
            const DWORD spent = GetTickCount() - start;
            if (spent >= waitMs) return 0;
            watch.Wait(waitMs - spent);
        }
    } else if (!tool->WaitReply(static_cast<int>(id), static_cast<unsigned int>(timeoutMs))) {
        return 0;
    }
    // Read under the lock: a destroy or a delete on another thread cannot
    // free the record while its bytes are copied out.
    CLockHold hold(*tool);
    CRobotCommand* record = tool->FindReply(static_cast<int>(id));
    if (!record) return 0;
    if (record->IsReplyComplete()) {
        BytesToSafeArray(record->GetReplyData(), record->GetReplySize(), reply);
        return record->GetReplySize();
    }
    return record->IsAbandoned() ? -1 : 0;
}
