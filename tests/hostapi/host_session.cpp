#include "host_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/reply_frames.h"

VornexHost& Host() {
    static VornexHost host;
    return host;
}

HostApi::HostApi() {
    const VornexHost& h = Host();
#define BIND(member, name) member = h.Export<decltype(member)>(name)
    BIND(AttachSerialPort, "ROBOT_AttachSerialPort");
    BIND(AttachTcpPort, "ROBOT_AttachTcpPort");
    BIND(AttachFTDIDevice, "ROBOT_AttachFTDIDevice");
    BIND(AttachFTDIDeviceByLoc, "ROBOT_AttachFTDIDeviceByLoc");
    BIND(AttachFTDIDeviceByIndex, "ROBOT_AttachFTDIDeviceByIndex");
    BIND(ReleaseSerialPort, "ReleaseSerialPort");
    BIND(SerialReleasePort, "Serial_ReleasePort");
    BIND(ReleaseTcpPort, "ReleaseTcpPort");
    BIND(TcpReleasePort, "TCP_ReleasePort");
    BIND(ReleaseFTDIDevice, "ReleaseFTDIDevice");
    BIND(FtdiRelease, "FTDI_Release");
    BIND(SendCommand, "ROBOT_SendCommand");
    BIND(SendCommandBytes, "ROBOT_SendCommandBytes");
    BIND(GetToolInfo, "ROBOT_GetToolInfo");
    BIND(WriteToPort, "ROBOT_WriteToPort");
    BIND(GetReply, "ROBOT_GetReply");
    BIND(WaitReply, "ROBOT_WaitReply");
    BIND(DeleteReply, "ROBOT_DeleteReply");
    BIND(GetReplyBytes, "ROBOT_GetReplyBytes");
    BIND(WaitReplyBytes, "ROBOT_WaitReplyBytes");
    BIND(FtdiOpen, "FTDI_Open");
    BIND(GetLocID, "FTDI_GetLocID");
    BIND(ResetDevice, "FTDI_ResetDevice");
    BIND(CyclePort, "FTDI_CyclePort");
    BIND(SetBaud, "SetFTDIBaud");
    BIND(FtdiSetBaud, "FTDI_SetBaud");
    BIND(SetLatency, "SetFTDILatency");
    BIND(FtdiSetLatency, "FTDI_SetLatency");
    BIND(SetUSBParameters, "SetFTDIUSBParameters");
    BIND(FtdiSetUSBParameters, "FTDI_SetUSBParameters");
    BIND(GetDeviceStrings, "FTDI_GetDeviceStrings");
    BIND(Enumerate, "FTDI_Enumerate");
    BIND(GetLibraryVersion, "FTDI_GetLibraryVersion");
    BIND(GetDriverStatus, "FTDI_GetDriverStatus");
    BIND(ResetToolRate, "FTDI_ResetToolRate");
#undef BIND
}

const HostApi& Api() {
    static HostApi api;
    return api;
}

RobotSession::RobotSession() : m_robot(static_cast<ROBOT_HANDLE>(Host().Create())) {}

RobotSession::~RobotSession() {
    Host().StopPolling(m_robot);
    Host().Destroy(m_robot);
    for (auto it = m_ports.rbegin(); it != m_ports.rend(); ++it) {
        PORT_HANDLE port = it->first;
        switch (it->second) {
        case PortKind::kSerial: Api().ReleaseSerialPort(port); break;
        case PortKind::kTcp: Api().ReleaseTcpPort(port); break;
        case PortKind::kFtdi: Api().ReleaseFTDIDevice(port); break;
        }
    }
}

PORT_HANDLE RobotSession::Keep(PORT_HANDLE port, PortKind kind) {
    if (port) m_ports.emplace_back(port, kind);
    return port;
}

bool RobotSession::Release(PORT_HANDLE port) {
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (it->first != port) continue;
        const PortKind kind = it->second;
        m_ports.erase(it);
        switch (kind) {
        case PortKind::kSerial: return Api().ReleaseSerialPort(port);
        case PortKind::kTcp: return Api().ReleaseTcpPort(port);
        case PortKind::kFtdi: return Api().ReleaseFTDIDevice(port);
        }
    }
    return false;
}

void RobotSession::StartPolling() { Host().StartPolling(m_robot); }

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

CRobotCommand* WaitFinished(ROBOT_HANDLE robot, long id, DWORD ms) {
    CRobotCommand* record = nullptr;
    PumpUntil([&] {
        record = Api().GetReply(robot, id);
        return record && (record->IsReplyComplete() || record->IsAbandoned());
    }, ms);
    return record;
}

// ---- Arrays ---------------------------------------------------------------

HostArray::~HostArray() {
    if (m_array) {
        EXPECT_EQ(SafeArrayDestroy(m_array), S_OK);
    }
}

SAFEARRAY* MakeVector(VARTYPE type, LONG lower, const std::vector<long>& values) {
    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(values.size());
    bound.lLbound = lower;
    SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
    if (!array) return nullptr;
    LONG index = lower;
    for (long value : values) {
        unsigned char byte = static_cast<unsigned char>(value);
        short word = static_cast<short>(value);
        long dword = value;
        double real = static_cast<double>(value);
        void* element = &dword;
        if (type == VT_UI1 || type == VT_I1) element = &byte;
        else if (type == VT_I2 || type == VT_UI2) element = &word;
        else if (type == VT_R8) element = &real;
        SafeArrayPutElement(array, &index, element);
        ++index;
    }
    return array;
}

SAFEARRAY* MakeByteVector(const std::vector<uint8_t>& values) {
    return MakeVector(VT_UI1, 0, std::vector<long>(values.begin(), values.end()));
}

SAFEARRAY* MakeByteMatrix(ULONG first, ULONG second) {
    SAFEARRAYBOUND bounds[2] = {{first, 0}, {second, 0}};
    return SafeArrayCreate(VT_UI1, 2, bounds);
}

VARTYPE TypeOf(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    if (array) SafeArrayGetVartype(array, &type);
    return type;
}

UINT DimsOf(SAFEARRAY* array) { return array ? SafeArrayGetDim(array) : 0; }

long CountOf(SAFEARRAY* array, UINT dim) {
    LONG lower = 0, upper = 0;
    if (!array || FAILED(SafeArrayGetLBound(array, dim, &lower)) || FAILED(SafeArrayGetUBound(array, dim, &upper)))
        return -1;
    return upper - lower + 1;
}

bool LowerBoundsAreZero(SAFEARRAY* array) {
    if (!array) return false;
    for (UINT dim = 1; dim <= SafeArrayGetDim(array); ++dim) {
        LONG lower = -1;
        if (FAILED(SafeArrayGetLBound(array, dim, &lower)) || lower != 0) return false;
    }
    return true;
}

std::vector<uint8_t> BytesOf(SAFEARRAY* array) {
    std::vector<uint8_t> out;
    const long count = CountOf(array, 1);
    for (LONG i = 0; i < count; ++i) {
        unsigned char value = 0;
        if (FAILED(SafeArrayGetElement(array, &i, &value))) break;
        out.push_back(value);
    }
    return out;
}

uint8_t MatrixAt(SAFEARRAY* array, long first, long second) {
    LONG index[2] = {first, second};
    unsigned char value = 0xEE;
    SafeArrayGetElement(array, index, &value);
    return value;
}

std::vector<std::wstring> StringsOf(SAFEARRAY* array) {
    std::vector<std::wstring> out;
    const long count = CountOf(array, 1);
    for (LONG i = 0; i < count; ++i) {
        BSTR text = nullptr;
        if (FAILED(SafeArrayGetElement(array, &i, &text))) break;
        out.push_back(text ? std::wstring(text, SysStringLen(text)) : std::wstring());
        SysFreeString(text);
    }
    return out;
}

std::vector<long> LongsOf(SAFEARRAY* array) {
    std::vector<long> out;
    const long count = CountOf(array, 1);
    for (LONG i = 0; i < count; ++i) {
        long value = 0;
        if (FAILED(SafeArrayGetElement(array, &i, &value))) break;
        out.push_back(value);
    }
    return out;
}

// ---- The tool's side -----------------------------------------------------

std::vector<uint8_t> EchoFrame(const std::vector<uint8_t>& payload) {
    return vxsim::BuildReplyFrame(payload.data(), payload.size());
}

std::vector<uint8_t> ReplyOf(CRobotCommand* record) {
    if (!record || !record->GetReplyData() || record->GetReplySize() <= 0) return {};
    const uint8_t* data = reinterpret_cast<const uint8_t*>(record->GetReplyData());
    return std::vector<uint8_t>(data, data + record->GetReplySize());
}

namespace {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

// Four devices; the second and third share a description.
const char* const kDeviceConfig =
    "device description=\"Vornex Sim Tool\" serial=VXS00001 location=0x1011 com=9\n"
    "device description=\"Twin Tool\" serial=VXS00002 location=0x2022 com=10\n"
    "device description=\"Twin Tool\" serial=VXS00003 location=0x3033 com=11\n"
    "device description=\"Spare Tool\" serial=VXS00004 location=0x4044 com=12\n";

} // namespace

const std::vector<FtdiSim::Device>& FtdiSim::Devices() {
    static const std::vector<Device> devices = {
        {L"Vornex Sim Tool", L"VXS00001", 0x1011, 9},
        {L"Twin Tool", L"VXS00002", 0x2022, 10},
        {L"Twin Tool", L"VXS00003", 0x3033, 11},
        {L"Spare Tool", L"VXS00004", 0x4044, 12},
    };
    return devices;
}

FtdiSim& FtdiSim::Get() {
    static FtdiSim sim;
    return sim;
}

FtdiSim::FtdiSim() : m_module(nullptr), m_control(nullptr), m_query(nullptr) {
    m_configPath = TempPath("ftdisim.cfg");
    {
        std::ofstream config(m_configPath, std::ios::binary);
        config << kDeviceConfig;
    }
    SetEnvironmentVariableA("VORNEX_FTDISIM_CONFIG", m_configPath.c_str());
    // vornex.dll loads "Ftd2xx.dll" by name: the module loaded here is the
    // one it gets, and the folder is searched should it ever be unloaded.
    const std::wstring folder = BinFolder() + L"\\ftdisim";
    SetDllDirectoryW(folder.c_str());
    m_module = LoadLibraryW((folder + L"\\Ftd2xx.dll").c_str());
    if (!m_module) return;
    m_control = reinterpret_cast<decltype(m_control)>(reinterpret_cast<void*>(GetProcAddress(m_module, "SIM_Control")));
    m_query = reinterpret_cast<decltype(m_query)>(reinterpret_cast<void*>(GetProcAddress(m_module, "SIM_Query")));
    if (!m_control || !m_query) m_module = nullptr;
}

bool FtdiSim::Reset() { return Control("reload") == 0 && Query("configerror") == 0 && Query("devices") == 4; }

bool FtdiSim::SetDevices(const std::string& lines) { return Control("devices " + lines) == 0; }

int FtdiSim::Control(const std::string& command) const { return m_control ? m_control(command.c_str()) : -100; }

long long FtdiSim::Query(const std::string& name) const { return m_query ? m_query(name.c_str()) : -100; }

bool FtdiSimReady() { return FtdiSim::Get().Loaded() && FtdiSim::Get().Reset(); }

bool DeviceOpen(int index) { return FtdiSim::Get().Query("dev:" + std::to_string(index) + " open") == 1; }

int ClosedTcpPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    int port = -1;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(probe);  // bound, never listening, now free: connections are refused
    WSACleanup();
    return port;
}

PORT_HANDLE AttachTcp(RobotSession& session, int port, unsigned int connectMs) {
    return session.Keep(Api().AttachTcpPort(session.robot(), L"127.0.0.1", static_cast<unsigned int>(port), connectMs),
                        PortKind::kTcp);
}

std::vector<uint8_t> RoundTrip(ROBOT_HANDLE robot, const wchar_t* text, unsigned long waitMs) {
    const long id = Api().SendCommand(robot, text);
    HostArray reply;
    const long size = Api().WaitReplyBytes(robot, id, waitMs, reply.out());
    std::vector<uint8_t> bytes = size > 0 ? BytesOf(reply.get()) : std::vector<uint8_t>();
    Api().DeleteReply(robot, id);
    return bytes;
}
