/* vornex.h compiled as strict C99, linked against the import library, and
 * called from C: the results a C host sees. */
#include "vornex.h"

int VornexHeaderSmokeFromC(void) {
    SAFEARRAY* reply = NULL;
    ROBOT_HANDLE robot = ROBOT_Create();
    long id = ROBOT_SendCommand(robot, L"BE09");
    if (robot == NULL || id <= 0 || ROBOT_IsIdle(robot) != 0) return 1;
    if (ROBOT_GetReplyBytes(robot, id, &reply) != 0 || reply != NULL || ROBOT_DeleteReply(robot, id) != 0) return 2;
    if (ROBOT_Destroy(robot) != 1 || ROBOT_Destroy(NULL) != 0 || FTDI_Release(NULL) != 0) return 3;
    return 0;
}
