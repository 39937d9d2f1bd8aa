/* A host that used a TCP port and returns from main, as a user's would.
 * exit_host tcp PORT LOG: a robot's whole life on a TCP link, every result
 * checked (exit code 0 only then). exit_host socket PORT: the control, no
 * vornex call: a socket of its own, notified through a message window. */
#include <winsock2.h>
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

static int Socket(unsigned port) {
    WSADATA wsa;
    CHECK(WSAStartup(MAKEWORD(2, 2), &wsa) == 0);
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    CHECK(window && s != INVALID_SOCKET);
    CHECK(WSAAsyncSelect(s, window, WM_APP, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0);
    struct sockaddr_in to = {AF_INET, htons((u_short)port), {{{127, 0, 0, 1}}}, {0}};
    connect(s, (struct sockaddr*)&to, sizeof to);
    static const char ask[] = "\xA5\x5A\x00\x03\xBE\x09\x41\x56\xFA\xAF";  /* tool information */
    int sent = 0, got = 0;
    char buffer[512];
    MSG m;
    for (DWORD start = GetTickCount(); !got && GetTickCount() - start < 5000;) {
        while (PeekMessageW(&m, NULL, 0, 0, PM_REMOVE)) {
            const int event = m.message == WM_APP ? WSAGETSELECTEVENT(m.lParam) : 0;
            if (event == FD_WRITE && !sent) sent = send(s, ask, sizeof ask - 1, 0) > 0;
            if (event == FD_READ) got = recv(s, buffer, sizeof buffer, 0) > 0;
            DispatchMessageW(&m);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    closesocket(s);
    DestroyWindow(window);
    CHECK(sent && got && WSACleanup() == 0);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int rc = !strcmp(argv[1], "tcp") && argc > 3 ? Tcp(atoi(argv[2]), argv[3]) : Socket(atoi(argv[2]));
    fflush(stdout);
    return rc;
}
