#pragma once
// What the host-API tests share: the exports bound by plain name with the
// types vornex.h declares, a robot object with its ports torn down in the
// host's order, SAFEARRAY building and reading, waits that keep this
// thread's messages flowing, and the simulated FTDI library's controls.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"
#include "support/vornex_host.h"

// The record class comes from the library's own header (vornex_host.h).
#define VORNEX_NO_ROBOT_COMMAND_CLASS
#include "vornex.h"

VornexHost& Host();

// Every plain-named export the tests call, bound through GetProcAddress.
struct HostApi {
    HostApi();

    decltype(&ROBOT_AttachSerialPort) AttachSerialPort;
    decltype(&ROBOT_AttachTcpPort) AttachTcpPort;
    decltype(&ROBOT_AttachFTDIDevice) AttachFTDIDevice;
    decltype(&ROBOT_AttachFTDIDeviceByLoc) AttachFTDIDeviceByLoc;
    decltype(&ROBOT_AttachFTDIDeviceByIndex) AttachFTDIDeviceByIndex;
    decltype(&ReleaseSerialPort) ReleaseSerialPort;
    decltype(&Serial_ReleasePort) SerialReleasePort;
    decltype(&ReleaseTcpPort) ReleaseTcpPort;
    decltype(&TCP_ReleasePort) TcpReleasePort;
    decltype(&ReleaseFTDIDevice) ReleaseFTDIDevice;
    decltype(&FTDI_Release) FtdiRelease;

    decltype(&ROBOT_SendCommand) SendCommand;
    decltype(&ROBOT_SendCommandBytes) SendCommandBytes;
    decltype(&ROBOT_GetToolInfo) GetToolInfo;
    decltype(&ROBOT_WriteToPort) WriteToPort;
    decltype(&ROBOT_GetReply) GetReply;
    decltype(&ROBOT_WaitReply) WaitReply;
    decltype(&ROBOT_DeleteReply) DeleteReply;
    decltype(&ROBOT_GetReplyBytes) GetReplyBytes;
    decltype(&ROBOT_WaitReplyBytes) WaitReplyBytes;

    decltype(&FTDI_Open) FtdiOpen;
    decltype(&FTDI_GetLocID) GetLocID;
    decltype(&FTDI_ResetDevice) ResetDevice;
    decltype(&FTDI_CyclePort) CyclePort;
    decltype(&SetFTDIBaud) SetBaud;
    decltype(&FTDI_SetBaud) FtdiSetBaud;
    decltype(&SetFTDILatency) SetLatency;
    decltype(&FTDI_SetLatency) FtdiSetLatency;
    decltype(&SetFTDIUSBParameters) SetUSBParameters;
    decltype(&FTDI_SetUSBParameters) FtdiSetUSBParameters;
    decltype(&FTDI_GetDeviceStrings) GetDeviceStrings;
    decltype(&FTDI_Enumerate) Enumerate;
    decltype(&FTDI_GetLibraryVersion) GetLibraryVersion;
    decltype(&FTDI_GetDriverStatus) GetDriverStatus;
    decltype(&FTDI_ResetToolRate) ResetToolRate;
};

const HostApi& Api();

enum class PortKind { kSerial, kTcp, kFtdi };

// One robot object and the ports attached to it during a test. The end
// follows the host's order: stop polling, destroy the robot, then release
// every port still held.
class RobotSession {
public:
    RobotSession();
    ~RobotSession();
    RobotSession(const RobotSession&) = delete;
    RobotSession& operator=(const RobotSession&) = delete;

    ROBOT_HANDLE robot() const { return m_robot; }
    // Holds port (when not null) until the end; returns it.
    PORT_HANDLE Keep(PORT_HANDLE port, PortKind kind);
    // Releases a held port now; false when it was not held.
    bool Release(PORT_HANDLE port);
    void StartPolling();

private:
    ROBOT_HANDLE m_robot;
    std::vector<std::pair<PORT_HANDLE, PortKind>> m_ports;
};

// This thread's window messages, dispatched.
void PumpMessages();
// Pumps until cond holds or ms have passed; cond's last value.
template <typename Cond>
bool PumpUntil(Cond cond, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (cond()) return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return cond();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent < 5 ? ms - spent : 5, QS_ALLINPUT);
    }
}
// The finished record of id, complete or abandoned, pumping while waiting.
CRobotCommand* WaitFinished(ROBOT_HANDLE robot, long id, DWORD ms);

// ---- Arrays ---------------------------------------------------------------

// Owns one array (the host's side of the contract) and frees it with
// SafeArrayDestroy at the end, checking that the destruction succeeded.
class HostArray {
public:
    explicit HostArray(SAFEARRAY* array = nullptr) : m_array(array) {}
    ~HostArray();
    HostArray(const HostArray&) = delete;
    HostArray& operator=(const HostArray&) = delete;
    SAFEARRAY* get() const { return m_array; }
    SAFEARRAY** out() { return &m_array; }
    // Forgets the array without freeing it (the library took it over).
    void Disown() { m_array = nullptr; }

private:
    SAFEARRAY* m_array;
};

// A one-dimensional array of type (VT_UI1, VT_I1, VT_I2, VT_UI2, VT_I4,
// VT_UI4, VT_INT, VT_R8) with the given lower bound and values.
SAFEARRAY* MakeVector(VARTYPE type, LONG lower, const std::vector<long>& values);
SAFEARRAY* MakeByteVector(const std::vector<uint8_t>& values);
// A two-dimensional VT_UI1 array, zero-filled.
SAFEARRAY* MakeByteMatrix(ULONG first, ULONG second);

VARTYPE TypeOf(SAFEARRAY* array);
UINT DimsOf(SAFEARRAY* array);
// Elements of a dimension (1-based), -1 when it cannot be read.
long CountOf(SAFEARRAY* array, UINT dim);
// True when every dimension has lower bound 0.
bool LowerBoundsAreZero(SAFEARRAY* array);
// Elements of a one-dimensional array of 1-byte elements, by index.
std::vector<uint8_t> BytesOf(SAFEARRAY* array);
// Element (first, second) of a two-dimensional VT_UI1 array.
uint8_t MatrixAt(SAFEARRAY* array, long first, long second);
std::vector<std::wstring> StringsOf(SAFEARRAY* array);
std::vector<long> LongsOf(SAFEARRAY* array);

// ---- The tool's side -----------------------------------------------------

// The frame the simulated tool answers an ordinary command with.
std::vector<uint8_t> EchoFrame(const std::vector<uint8_t>& payload);
// The bytes a record holds as its one reply part.
std::vector<uint8_t> ReplyOf(CRobotCommand* record);

// The simulated Ftd2xx.dll, loaded from bin/ftdisim so that vornex.dll binds
// the same module, reading its devices from a configuration file.
class FtdiSim {
public:
    static FtdiSim& Get();
    bool Loaded() const { return m_module != nullptr; }
    // Reads the device configuration file again: every device closed, fresh.
    bool Reset();
    // Replaces the devices with the lines given ('|' between devices).
    bool SetDevices(const std::string& lines);
    int Control(const std::string& command) const;
    long long Query(const std::string& name) const;

    // The devices of the configuration file, in index order.
    struct Device {
        const wchar_t* description;
        const wchar_t* serial;
        unsigned long location;
        long com;
    };
    static const std::vector<Device>& Devices();

private:
    FtdiSim();
    HMODULE m_module;
    int(__stdcall* m_control)(const char*);
    long long(__stdcall* m_query)(const char*);
    std::string m_configPath;
};

// The simulated library is loaded and its devices are the four of the
// configuration file, none open.
bool FtdiSimReady();
// Whether the simulated library has device index open now.
bool DeviceOpen(int index);

// A loopback TCP port that nothing listens on.
int ClosedTcpPort();
// A robot's link to the simulator over TCP (attached, polling).
PORT_HANDLE AttachTcp(RobotSession& session, int port, unsigned int connectMs = 5000);
// Sends text and waits for its reply with ROBOT_WaitReplyBytes: the reply
// (empty when none came), the reply array freed.
std::vector<uint8_t> RoundTrip(ROBOT_HANDLE robot, const wchar_t* text, unsigned long waitMs = 5000);
