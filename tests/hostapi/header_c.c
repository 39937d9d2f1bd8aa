/* vornex.h compiled as C: every declaration's address is taken, so the link
 * must find each plain name in the import library. */
#include "vornex.h"

#include "header_addresses.h"

#define DECLARED(fn) { #fn, (VornexAnyFunction)(fn) }

int VornexHeaderAddressesFromC(struct VornexDeclared* out, int room) {
    const struct VornexDeclared all[] = {
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
        DECLARED(ROBOT_DeleteReply),
        DECLARED(ROBOT_GetReplyBytes),
        DECLARED(ROBOT_WaitReplyBytes),
        DECLARED(ROBOT_ReadToolMemory),
        DECLARED(ROBOT_ReadToolMemoryAddressed),
        DECLARED(OpenFTDIDevice),
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
    const int count = (int)(sizeof all / sizeof all[0]);
    int i;
    for (i = 0; i < count && i < room; ++i) out[i] = all[i];
    return count;
}

int VornexHeaderSmokeFromC(void) {
    SAFEARRAY* reply = NULL;
    ROBOT_HANDLE robot;
    long id;
    robot = ROBOT_Create();
    if (robot == NULL) return 1;
    if (!ROBOT_IsIdle(robot)) return 2;
    id = ROBOT_SendCommand(robot, L"BE09");
    if (id <= 0) return 3;
    if (ROBOT_IsIdle(robot)) return 4;
    if (ROBOT_GetReplyBytes(robot, id, &reply) != 0 || reply != NULL) return 5;
    if (ROBOT_DeleteReply(robot, id)) return 6;
    if (!ROBOT_Destroy(robot)) return 7;
    if (ROBOT_Destroy(NULL)) return 8;
    if (ReleaseTcpPort(NULL) || ReleaseSerialPort(NULL) || FTDI_Release(NULL)) return 9;
    if (ROBOT_SendCommand(NULL, L"BE09") != 0) return 10;
    return 0;
}
