/* vornex.h compiled as strict C99, linked against the import library, and
 * called from C: the results a C host sees. */
#include "vornex.h"

int VornexHeaderSmokeFromC(void) {
    SAFEARRAY* reply = NULL;
    ROBOT_HANDLE robot = ROBOT_Create();
    long id;
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
