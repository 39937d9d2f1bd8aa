/* A host that used a TCP port and returns from main, as a user's would. exit_host tcp PORT LOG: a robot's whole life
 * on a TCP link, every result checked (exit code 0 only then). exit_host thread PORT: the control, no vornex call: a
 * thread that reports its end and is still leaving as main returns, which Wine under qemu-i386 now and then faults on. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vornex.h"

#define CHECK(c) do { if (!(c)) { printf("exit_host: line %d failed\n", __LINE__); return 10; } } while (0)

static int Tcp(unsigned port, const char* log) {
    ROBOT_HANDLE robot = ROBOT_Create();
    CHECK(robot);
    ROBOT_StartLogging(robot, log);
    PORT_HANDLE link = ROBOT_AttachTcpPort(robot, L"127.0.0.1", port, 5000);
    CHECK(link && ROBOT_StartPolling(robot) == 1);
    SAFEARRAY* reply = NULL;
    long info = ROBOT_GetToolInfo(robot);
    CHECK(info != 0 && ROBOT_WaitReplyBytes(robot, info, 5000, &reply) == 10);
    long id = ROBOT_SendCommand(robot, L"BE09");
    CHECK(id != 0 && ROBOT_WaitReplyBytes(robot, id, 5000, &reply) > 0);
    CHECK(ROBOT_GetReplyBytes(robot, id, &reply) > 0);
    SafeArrayDestroy(reply);
    ROBOT_StopPolling(robot);
    CHECK(ROBOT_Destroy(robot) == 1 && ReleaseTcpPort(link) == 1);
    return 0;
}

static HANDLE reported;
static DWORD WINAPI Leave(void* unused) { (void)unused; SetEvent(reported); return 0; }

static int Thread(void) {
    reported = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE thread = reported ? CreateThread(NULL, 0, Leave, NULL, 0, NULL) : NULL;
    CHECK(thread && WaitForSingleObject(reported, 5000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    return 0;
}

int main(int argc, char** argv) {
    const int rc = argc > 3 && !strcmp(argv[1], "tcp") ? Tcp(atoi(argv[2]), argv[3])
                   : argc > 2 && !strcmp(argv[1], "thread") ? Thread() : 2;
    fflush(stdout);
    return rc;
}
