// vornex.h compiled as C++: every declaration's address is taken (the C++-only
// ones included, so the link must find their C++ names in the import
// library), and a record is read through the header's CRobotCommand.
#include "vornex.h"

#include "header_addresses.h"
#include "header_cpp.h"

#define DECLARED(fn) {#fn, reinterpret_cast<VornexAnyFunction>(fn)}

namespace {

typedef long(__stdcall* ToolMemoryMatrixFn)(ROBOT_HANDLE, SAFEARRAY**, long, long, long, SAFEARRAY**);
typedef bool (*OpenByReferenceFn)(CFTDIPort&, const wchar_t*);
typedef VORNEX_BOOL (*OpenByHandleFn)(PORT_HANDLE, const wchar_t*);

} // namespace

std::vector<VornexDeclared> PlainDeclarationsFromCxx() {
    return {
        DECLARED(ROBOT_Create),
        DECLARED(ROBOT_Destroy),
        DECLARED(ROBOT_StartPolling),
        DECLARED(ROBOT_StopPolling),
        DECLARED(ROBOT_IsIdle),
        DECLARED(ROBOT_SetTimeout),
        DECLARED(ROBOT_SetKeepAlive),
        DECLARED(ROBOT_StartLogging),
        DECLARED(ROBOT_AttachSerialPort),
        DECLARED(ReleaseSerialPort),
        DECLARED(Serial_ReleasePort),
        DECLARED(ROBOT_AttachTcpPort),
        DECLARED(ReleaseTcpPort),
        DECLARED(TCP_ReleasePort),
        DECLARED(ROBOT_AttachFTDIDevice),
        DECLARED(ROBOT_AttachFTDIDeviceByLoc),
        DECLARED(ROBOT_AttachFTDIDeviceByIndex),
        DECLARED(ReleaseFTDIDevice),
        DECLARED(FTDI_Release),
        DECLARED(ROBOT_SendCommand),
        DECLARED(ROBOT_SendCommandBytes),
        DECLARED(ROBOT_GetToolInfo),
        DECLARED(ROBOT_WriteToPort),
        DECLARED(ROBOT_GetReply),
        DECLARED(ROBOT_WaitReply),
        DECLARED(ROBOT_DeleteReply),
        DECLARED(ROBOT_GetReplyBytes),
        DECLARED(ROBOT_WaitReplyBytes),
        {"ROBOT_ReadToolMemory", reinterpret_cast<VornexAnyFunction>(static_cast<ToolMemoryMatrixFn>(ROBOT_ReadToolMemory))},
        DECLARED(ROBOT_ReadToolMemoryAddressed),
        {"OpenFTDIDevice", reinterpret_cast<VornexAnyFunction>(static_cast<OpenByHandleFn>(OpenFTDIDevice))},
        DECLARED(FTDI_Open),
        DECLARED(FTDI_GetLocID),
        DECLARED(FTDI_ResetDevice),
        DECLARED(FTDI_CyclePort),
        DECLARED(SetFTDIBaud),
        DECLARED(FTDI_SetBaud),
        DECLARED(SetFTDILatency),
        DECLARED(FTDI_SetLatency),
        DECLARED(SetFTDIUSBParameters),
        DECLARED(FTDI_SetUSBParameters),
        DECLARED(FTDI_GetDeviceStrings),
        DECLARED(FTDI_Enumerate),
        DECLARED(FTDI_GetLibraryVersion),
        DECLARED(FTDI_GetDriverStatus),
        DECLARED(FTDI_ResetToolRate),
        DECLARED(GetPortCount),
        DECLARED(Serial_GetPortCount),
        DECLARED(GetPortDescription),
        DECLARED(Serial_GetPortDescription),
        DECLARED(GetPortNumber),
        DECLARED(Serial_GetPortNumber),
    };
}

CxxOnlyDeclarations CxxOnlyDeclarationsFromCxx() {
    typedef PageList*(__stdcall * ListWithAddressFn)(void*, SAFEARRAY**, long, long, long, long*, const wchar_t*);
    typedef PageList*(__stdcall * ListFn)(void*, SAFEARRAY**, long, long, long, long*);
    CxxOnlyDeclarations d;
    d.byReference = {
        DECLARED(FindFTDIDevice),
        {"OpenFTDIDevice", reinterpret_cast<VornexAnyFunction>(static_cast<OpenByReferenceFn>(OpenFTDIDevice))},
        DECLARED(OpenFTDIDeviceByLoc),
        DECLARED(OpenFTDIDeviceByIndex),
        DECLARED(CloseFTDIDevice),
    };
    d.download = {
        DECLARED(ROBOT_ReadFlashPages),
        {"ROBOT_ReadToolMemory", reinterpret_cast<VornexAnyFunction>(static_cast<ListWithAddressFn>(ROBOT_ReadToolMemory))},
        {"ROBOT_ReadToolMemory", reinterpret_cast<VornexAnyFunction>(static_cast<ListFn>(ROBOT_ReadToolMemory))},
        DECLARED(ROBOT_ReadToolMemorySA),
        DECLARED(ROBOT_ReadToolMemorySAAddressed),
    };
    d.openByReference = reinterpret_cast<VornexAnyFunction>(static_cast<OpenByReferenceFn>(OpenFTDIDevice));
    return d;
}

AbandonedRecordView ReadAbandonedRecordThroughHeader(unsigned int timeoutMs, unsigned int waitMs) {
    AbandonedRecordView view;
    ROBOT_HANDLE robot = ROBOT_Create();
    if (!robot) return view;
    ROBOT_SetTimeout(robot, timeoutMs);
    ROBOT_StartPolling(robot);
    view.id = ROBOT_SendCommand(robot, L"0a0b");
    CRobotCommand* record = nullptr;
    const DWORD start = GetTickCount();
    while (!(record = ROBOT_GetReply(robot, view.id)) && GetTickCount() - start < waitMs) Sleep(5);
    if (record) {
        view.found = true;
        view.recordId = record->GetID();
        view.kind = static_cast<long>(record->GetCommand());
        view.abandoned = record->IsAbandoned();
        view.complete = record->IsReplyComplete();
        view.addressed = record->IsAddressed();
        view.parts = record->GetReplyCount();
        view.dataIsNull = record->GetReplyData() == nullptr;
        view.size = record->GetReplySize();
        view.walkStarted = record->StartReplyWalk();
        view.walkMoved = record->NextReply();
        view.waitReturnsIt = ROBOT_WaitReply(robot, view.id, 0) == record;
        view.deleted = ROBOT_DeleteReply(robot, view.id);
    }
    ROBOT_StopPolling(robot);
    view.destroyed = ROBOT_Destroy(robot);
    return view;
}
