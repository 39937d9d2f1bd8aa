// A small host: loads vornex.dll, creates a robot object, issues two
// commands with no port attached and shows them abandoned after 500 ms.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "engine/robot_command.h"

namespace {

template <typename Fn>
Fn Find(HMODULE dll, const char* name) {
    Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!fn) {
        std::fprintf(stderr, "vornex-demo: vornex.dll has no export %s\n", name);
        std::exit(1);
    }
    return fn;
}

} // namespace

int main() {
    HMODULE dll = LoadLibraryW(L"vornex.dll");
    if (!dll) {
        std::fprintf(stderr, "vornex-demo: cannot load vornex.dll (error %lu)\n", GetLastError());
        return 1;
    }
    typedef void* Robot;
    auto create = Find<Robot(__stdcall*)()>(dll, "ROBOT_Create");
    auto destroy = Find<bool(__stdcall*)(Robot)>(dll, "ROBOT_Destroy");
    auto startPolling = Find<bool(__stdcall*)(Robot)>(dll, "ROBOT_StartPolling");
    auto stopPolling = Find<void(__stdcall*)(Robot)>(dll, "ROBOT_StopPolling");
    auto setTimeout = Find<void(__stdcall*)(Robot, unsigned int)>(dll, "ROBOT_SetTimeout");
    auto startLogging = Find<void(__stdcall*)(Robot, const char*)>(dll, "ROBOT_StartLogging");
    auto sendCommand = Find<long(__stdcall*)(Robot, const wchar_t*)>(dll, "ROBOT_SendCommand");
    auto getReply = Find<CRobotCommand*(__stdcall*)(Robot, long)>(dll, "ROBOT_GetReply");
    auto deleteReply = Find<bool(__stdcall*)(Robot, long)>(dll, "ROBOT_DeleteReply");

    const char* logPath = "vornex-demo.log";
    Robot robot = create();
    setTimeout(robot, 500);
    startLogging(robot, logPath);
    if (!startPolling(robot)) {
        std::fprintf(stderr, "vornex-demo: the robot object did not start polling\n");
        return 1;
    }
    const wchar_t* texts[] = {L"BE09", L"be2b0100"};
    long ids[2];
    const DWORD start = GetTickCount();
    for (int i = 0; i < 2; ++i) {
        ids[i] = sendCommand(robot, texts[i]);
        std::wprintf(L"issued %ls as command %ld\n", texts[i], ids[i]);
    }
    int failures = 0;
    for (int i = 0; i < 2; ++i) {
        CRobotCommand* record = nullptr;
        while (GetTickCount() - start < 5000) {
            record = getReply(robot, ids[i]);
            if (record && (record->IsAbandoned() || record->IsReplyComplete())) break;
            Sleep(10);
        }
        if (!record || !record->IsAbandoned()) {
            std::printf("command %ld did not end abandoned\n", ids[i]);
            ++failures;
            continue;
        }
        std::printf("command %ld abandoned after %lu ms (no port attached, time limit 500 ms)\n", ids[i],
                    static_cast<unsigned long>(GetTickCount() - start));
        deleteReply(robot, ids[i]);
    }
    stopPolling(robot);
    destroy(robot);

    std::printf("--- %s ---\n", logPath);
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    FreeLibrary(dll);
    return failures == 0 ? 0 : 1;
}
