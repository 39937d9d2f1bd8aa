#pragma once
// vornex.dll loaded at run time, each export found by its plain name, as a
// host without the import library finds them. The types come from vornex.h.
#include <windows.h>

#include <string>

#define VORNEX_NO_DLLIMPORT
#include "vornex.h"

class VornexLibrary {
public:
    VornexLibrary() = default;
    ~VornexLibrary();
    VornexLibrary(const VornexLibrary&) = delete;
    VornexLibrary& operator=(const VornexLibrary&) = delete;

    // Loads vornex.dll (beside the program first, then the usual search) and
    // binds every export below. False with the reason in error.
    bool Load(std::string& error);

    decltype(&::ROBOT_Create) Create = nullptr;
    decltype(&::ROBOT_Destroy) Destroy = nullptr;
    decltype(&::ROBOT_StartPolling) StartPolling = nullptr;
    decltype(&::ROBOT_StopPolling) StopPolling = nullptr;
    decltype(&::ROBOT_SetTimeout) SetTimeout = nullptr;
    decltype(&::ROBOT_StartLogging) StartLogging = nullptr;
    decltype(&::ROBOT_AttachSerialPort) AttachSerialPort = nullptr;
    decltype(&::ROBOT_AttachTcpPort) AttachTcpPort = nullptr;
    decltype(&::ROBOT_AttachFTDIDevice) AttachFtdiDevice = nullptr;
    decltype(&::ROBOT_AttachFTDIDeviceByLoc) AttachFtdiDeviceByLoc = nullptr;
    decltype(&::ROBOT_AttachFTDIDeviceByIndex) AttachFtdiDeviceByIndex = nullptr;
    decltype(&::ReleaseSerialPort) ReleaseSerialPort = nullptr;
    decltype(&::ReleaseTcpPort) ReleaseTcpPort = nullptr;
    decltype(&::ReleaseFTDIDevice) ReleaseFtdiDevice = nullptr;
    decltype(&::ROBOT_SendCommand) SendCommand = nullptr;
    decltype(&::ROBOT_GetToolInfo) GetToolInfo = nullptr;
    decltype(&::ROBOT_GetReplyBytes) GetReplyBytes = nullptr;
    decltype(&::ROBOT_DeleteReply) DeleteReply = nullptr;
    // The plain name ROBOT_ReadToolMemory is the automation form (page matrix).
    long(__stdcall* ReadToolMemory)(ROBOT_HANDLE robot, SAFEARRAY** pages, long baudRate, long timeoutMs, long flag,
                                    SAFEARRAY** out) = nullptr;
    decltype(&::FTDI_Enumerate) FtdiEnumerate = nullptr;
    decltype(&::GetPortCount) GetPortCount = nullptr;
    decltype(&::GetPortDescription) GetPortDescription = nullptr;
    decltype(&::GetPortNumber) GetPortNumber = nullptr;

private:
    template <typename Fn>
    bool Bind(Fn& slot, const char* name, std::string& error);

    HMODULE m_module = nullptr;
};

// The folder of the running program, with a trailing backslash.
std::wstring ProgramFolder();
