#include "support/vornex_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "protocol/command_frame.h"
#include "sim/reply_frames.h"
#include "support/process.h"

namespace vxt {

void Pump() {
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) TranslateMessage(&msg), DispatchMessageW(&msg);
}

bool WaitUntil(const std::function<bool()>& cond, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (cond()) return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return cond();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent < 5 ? ms - spent : 5, QS_ALLINPUT);
    }
}

std::string TempPath(const std::string& name) {
    static std::atomic<int> serial{0};
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "vx-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + "-" + name;
}

namespace {
// A failing SAFEARRAY call fails the test that made it, and says which.
HRESULT Check(HRESULT result, const char* call) {
    if (FAILED(result)) ADD_FAILURE() << call << " failed: 0x" << std::hex << result;
    return result;
}

void Put(SAFEARRAY* array, VARTYPE type, LONG* index, long value) {
    unsigned char byte = static_cast<unsigned char>(value);
    short word = static_cast<short>(value);
    double real = static_cast<double>(value);
    void* element = &value;
    if (type == VT_UI1 || type == VT_I1) element = &byte;
    else if (type == VT_I2 || type == VT_UI2) element = &word;
    else if (type == VT_R8) element = &real;
    Check(SafeArrayPutElement(array, index, element), "SafeArrayPutElement");
}
}  // namespace

SAFEARRAY* Vector(VARTYPE type, LONG lower, const std::vector<long>& values) {
    SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), lower};
    SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
    if (!array) ADD_FAILURE() << "SafeArrayCreate failed";
    LONG index = lower;
    for (long value : values) Put(array, type, &index, value), ++index;
    return array;
}

SAFEARRAY* Bytes(const std::vector<uint8_t>& values) { return Vector(VT_UI1, 0, {values.begin(), values.end()}); }

SAFEARRAY* Matrix(VARTYPE type, ULONG rows, ULONG columns, const std::vector<long>& values, LONG lower) {
    SAFEARRAYBOUND bounds[2] = {{rows, lower}, {columns, lower}};
    SAFEARRAY* array = SafeArrayCreate(type, 2, bounds);
    if (!array) ADD_FAILURE() << "SafeArrayCreate failed";
    for (ULONG i = 0; i < values.size() && columns; ++i) {
        LONG at[2] = {static_cast<LONG>(i / columns) + lower, static_cast<LONG>(i % columns) + lower};
        Put(array, type, at, values[i]);
    }
    return array;
}

VARTYPE TypeOf(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    if (array) Check(SafeArrayGetVartype(array, &type), "SafeArrayGetVartype");
    return type;
}

long CountOf(SAFEARRAY* array, UINT dim) {
    LONG lower = 0, upper = 0;
    if (!array || FAILED(SafeArrayGetLBound(array, dim, &lower)) || FAILED(SafeArrayGetUBound(array, dim, &upper)))
        return -1;
    return upper - lower + 1;
}

std::string Shape(SAFEARRAY* array) {
    if (!array) return "null";
    const VARTYPE type = TypeOf(array);
    std::string shape = type == VT_I1 ? "I1" : type == VT_UI1 ? "UI1" : type == VT_BSTR ? "BSTR" : type == VT_INT ? "INT"
                                                                                      : std::to_string(type);
    for (UINT dim = 1; dim <= SafeArrayGetDim(array); ++dim) {
        LONG lower = 0, upper = 0;
        Check(SafeArrayGetLBound(array, dim, &lower), "SafeArrayGetLBound");
        Check(SafeArrayGetUBound(array, dim, &upper), "SafeArrayGetUBound");
        shape += "[" + std::to_string(lower) + ".." + std::to_string(upper) + "]";
    }
    return shape;
}

template <typename T, typename Out, typename Convert>
static std::vector<Out> Elements(SAFEARRAY* array, Convert convert) {
    std::vector<Out> out;
    for (LONG i = 0; i < CountOf(array, 1); ++i) {
        T value{};
        if (FAILED(Check(SafeArrayGetElement(array, &i, &value), "SafeArrayGetElement"))) break;
        out.push_back(convert(value));
    }
    return out;
}

const auto kSame = [](auto value) { return value; };
std::vector<uint8_t> BytesOf(SAFEARRAY* array) { return Elements<unsigned char, uint8_t>(array, kSame); }
std::vector<long> LongsOf(SAFEARRAY* array) { return Elements<LONG, long>(array, kSame); }
std::vector<std::wstring> StringsOf(SAFEARRAY* array) {
    return Elements<BSTR, std::wstring>(array, [](BSTR text) {
        const std::wstring copy(text ? text : L"", SysStringLen(text));
        SysFreeString(text);
        return copy;
    });
}

uint8_t At(SAFEARRAY* array, long first, long second) {
    LONG index[2] = {first, second};
    unsigned char value = 0xEE;
    Check(SafeArrayGetElement(array, index, &value), "SafeArrayGetElement");
    return value;
}

std::vector<uint8_t> FrameOf(const std::wstring& text, bool addressed) {
    return EncodeCommand(text.c_str(), text.size(), addressed, false);
}
std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& payload) {
    return vxsim::BuildReplyFrame(payload.data(), payload.size());
}

std::vector<uint8_t> RecordBytes(CRobotCommand* record) {
    if (!record || !record->GetReplyData() || record->GetReplySize() <= 0) return {};
    const uint8_t* data = reinterpret_cast<const uint8_t*>(record->GetReplyData());
    return std::vector<uint8_t>(data, data + record->GetReplySize());
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

ScriptedTool::ScriptedTool() : m_listener(Listen(m_port)) {
    if (m_listener != INVALID_SOCKET) m_thread = std::thread([this] { Run(); });
}

ScriptedTool::~ScriptedTool() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
}

void ScriptedTool::Answer(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_script.push_back(bytes);
}
size_t ScriptedTool::Commands() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_commands;
}

void ScriptedTool::Run() {
    SOCKET client = INVALID_SOCKET;
    std::vector<uint8_t> pending;
    while (!m_stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(client == INVALID_SOCKET ? m_listener : client, &set);
        timeval wait = {0, 20000};
        if (select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
        if (client == INVALID_SOCKET) { client = accept(m_listener, nullptr, nullptr); continue; }
        char buffer[4096];
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) { closesocket(client), client = INVALID_SOCKET, pending.clear(); continue; }
        pending.insert(pending.end(), buffer, buffer + got);
        // The library writes each command frame (A5 5A .. FA AF) in one piece.
        const uint8_t start[2] = {0xA5, 0x5A};
        if (pending.size() < 8 || pending[pending.size() - 2] != 0xFA || pending.back() != 0xAF ||
            std::search(pending.begin(), pending.end(), start, start + 2) == pending.end())
            continue;
        pending.clear();
        std::unique_lock<std::mutex> hold(m_lock);
        const std::vector<uint8_t> answer = m_commands < m_script.size() ? m_script[m_commands] : std::vector<uint8_t>();
        ++m_commands, hold.unlock();
        SendAll(client, answer);
    }
    if (client != INVALID_SOCKET) closesocket(client);
}

namespace ftdi {
namespace {
const char* const kDevices =
    "device description=\"Vornex Sim Tool\" serial=VXS00001 location=0x1011 com=9\n"
    "device description=\"Twin Tool\" serial=VXS00002 location=0x2022 com=10\n"
    "device description=\"Twin Tool\" serial=VXS00003 location=0x3033 com=11\n"
    "device description=\"Spare Tool\" serial=VXS00004 location=0x4044 com=none\n";

struct Library {
    HMODULE module = nullptr;
    int(__stdcall* control)(const char*) = nullptr;
    long long(__stdcall* query)(const char*) = nullptr;
    unsigned long(__stdcall* written)(int, unsigned char*, unsigned long) = nullptr;
    Library() {
        const std::string config = TempPath("ftdisim.cfg");
        std::ofstream(config, std::ios::binary) << kDevices;
        SetEnvironmentVariableA("VORNEX_FTDISIM_CONFIG", config.c_str());
        const std::wstring folder = vxproc::ExeFolder() + L"ftdisim";
        // vornex.dll loads "Ftd2xx.dll" by name and gets this module.
        SetDllDirectoryW(folder.c_str());
        module = LoadLibraryW((folder + L"\\Ftd2xx.dll").c_str());
        if (!module) return;
        control = reinterpret_cast<decltype(control)>(reinterpret_cast<void*>(GetProcAddress(module, "SIM_Control")));
        query = reinterpret_cast<decltype(query)>(reinterpret_cast<void*>(GetProcAddress(module, "SIM_Query")));
        written = reinterpret_cast<decltype(written)>(reinterpret_cast<void*>(GetProcAddress(module, "SIM_GetWritten")));
    }
};
Library& Lib() { static Library library; return library; }
}  // namespace

bool Reset() { return Control("reload") == 0 && Query("configerror") == 0 && Query("devices") == 4; }
int Control(const std::string& command) { return Lib().control ? Lib().control(command.c_str()) : -100; }
long long Query(const std::string& name) { return Lib().query ? Lib().query(name.c_str()) : -100; }

std::vector<uint8_t> Written(int device) {
    if (!Lib().written) return {};
    std::vector<uint8_t> bytes(Lib().written(device, nullptr, 0));
    if (!bytes.empty()) Lib().written(device, bytes.data(), static_cast<unsigned long>(bytes.size()));
    return bytes;
}
}  // namespace ftdi

bool ComLink(int& com, int& bridgePort, std::string* line) {
    char fixture[128] = {}, prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("VX_COM_FIXTURE", fixture, sizeof fixture) ||
        !GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix))
        return false;
    // The link writes "COM<n> <port> <rate> <format>" there; Wine sees the Linux tree as Z:.
    std::istringstream ready(ReadFile(std::string("Z:") + prefix + "/ptylink/" + fixture + ".ready"));
    std::string name, rate, format;
    if (!(ready >> name >> bridgePort) || std::sscanf(name.c_str(), "COM%d", &com) != 1) return false;
    if (line && ready >> rate >> format) *line = rate + " " + format;
    return true;
}

const PortKind kEveryPort[3] = {PortKind::Tcp, PortKind::Com, PortKind::Ftdi};
const char* Name(PortKind kind) { return kind == PortKind::Tcp ? "Tcp" : kind == PortKind::Com ? "Com" : "Ftdi"; }

bool Release(PortKind kind, PORT_HANDLE port) {
    return kind == PortKind::Tcp ? ReleaseTcpPort(port) : kind == PortKind::Com ? ReleaseSerialPort(port)
                                                                                : ReleaseFTDIDevice(port);
}

Rig::Rig(PortKind kind, const Options& options, int tcpPort)
    : m_kind(kind), m_logPath(TempPath(std::string(Name(kind)) + ".log")) {
    m_robot = ROBOT_Create();
    if (kind == PortKind::Ftdi) {
        if (!ftdi::Reset()) return;
        m_port = ROBOT_AttachFTDIDeviceByIndex(m_robot, 0);
    } else if (tcpPort) {
        m_port = ROBOT_AttachTcpPort(m_robot, options.host, static_cast<unsigned>(tcpPort), 5000);
    } else {
        m_sim.reset(new vxsim::SimServer());
        if (options.lineRate) m_sim->SetFixedLineRate(options.lineRate);
        if (kind == PortKind::Tcp) {
            const int port = m_sim->ListenTcp();
            if (port > 0) m_port = ROBOT_AttachTcpPort(m_robot, options.host, static_cast<unsigned>(port), 5000);
        } else {
            int com = 0, bridge = 0;
            if (ComLink(com, bridge) && m_sim->ConnectTcp("127.0.0.1", bridge, 5000))
                m_port = ROBOT_AttachSerialPort(m_robot, com);
        }
    }
    // The pty link drops what the port writes before it has taken the
    // simulator's connection: one answered command shows the line is up.
    if (kind == PortKind::Com && m_port) {
        ROBOT_StartPolling(m_robot);
        ROBOT_SetTimeout(m_robot, 300);
        if (!WaitUntil([&] { return !RoundTrip(L"0000", 1000).empty(); }, 20000))
            ADD_FAILURE() << "the COM link never answered";
        ROBOT_StopPolling(m_robot);
        ClearToolReceived();
    }
    ROBOT_SetTimeout(m_robot, options.timeoutMs);
    ROBOT_StartLogging(m_robot, m_logPath.c_str());
    if (options.poll) ROBOT_StartPolling(m_robot);
}

Rig::~Rig() {
    ROBOT_StopPolling(m_robot);
    ROBOT_Destroy(m_robot);
    if (m_port) { EXPECT_EQ(Release(m_kind, m_port), 1) << "releasing the " << Name(m_kind) << " port"; }
    m_sim.reset();
    DeleteFileA(m_logPath.c_str());
}

bool Rig::AddFaults(const std::string& rules) {
    return m_kind == PortKind::Ftdi ? ftdi::Control("fault " + rules) == 0 : m_sim && m_sim->AddFaults(rules);
}

std::vector<uint8_t> Rig::ToolReceived() {
    return m_kind == PortKind::Ftdi ? ftdi::Written(0) : m_sim ? m_sim->Received() : std::vector<uint8_t>();
}

void Rig::ClearToolReceived() {
    if (m_sim) m_sim->ClearReceived();
    else if (m_kind == PortKind::Ftdi) ftdi::Control("clearwritten");
}

bool Rig::WaitToolReceived(const std::vector<uint8_t>& bytes, DWORD ms) {
    return WaitUntil([&] { return ToolReceived() == bytes; }, ms);
}
std::string Rig::Log() { return ReadFile(m_logPath); }
bool Rig::WaitLog(const std::string& text, DWORD ms) {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; }, ms);
}
long Rig::Send(const std::wstring& text) { return ROBOT_SendCommand(m_robot, text.c_str()); }

long Rig::Wait(long id, DWORD ms, std::vector<uint8_t>* bytes) {
    const bool finished = WaitUntil([&] {
        CRobotCommand* record = ROBOT_GetReply(m_robot, id);
        return record && (record->IsReplyComplete() || record->IsAbandoned());
    }, ms);
    if (!finished) ADD_FAILURE() << "command " << id << " not finished in " << ms << " ms";
    if (!finished) return 0;
    Array reply;
    const long size = ROBOT_GetReplyBytes(m_robot, id, reply.out());
    if (bytes && size > 0 && SafeArrayGetDim(reply.get()) == 1) *bytes = BytesOf(reply.get());
    return size;
}

std::vector<uint8_t> Rig::RoundTrip(const std::wstring& text, DWORD ms) {
    const long id = Send(text);
    Array reply;
    const long size = ROBOT_WaitReplyBytes(m_robot, id, ms, reply.out());
    ROBOT_DeleteReply(m_robot, id);
    return size > 0 ? BytesOf(reply.get()) : std::vector<uint8_t>();
}

}  // namespace vxt
