#include "link_rig.h"

#include <algorithm>
#include <cwchar>
#include <fstream>

#include "api/ftdi_exports.h"
#include "api/message_wait.h"
#include "ports/ftdi_port.h"
#include "ports/serial_port.h"
#include "ports/tcp_port.h"
#include "protocol/command_frame.h"
#include "support/test_files.h"

namespace {

constexpr int kComNumber = 7;
constexpr int kComBridgePort = 47007;

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

typedef int(__stdcall* SimControlFn)(const char*);
typedef long long(__stdcall* SimQueryFn)(const char*);
typedef unsigned long(__stdcall* SimWrittenFn)(int, unsigned char*, unsigned long);

} // namespace

const char* LinkKindName(LinkKind kind) {
    switch (kind) {
    case LinkKind::Tcp: return "Tcp";
    case LinkKind::Com: return "Com";
    case LinkKind::Ftdi: return "Ftdi";
    }
    return "?";
}

LinkRig::LinkRig(LinkKind kind) : m_kind(kind), m_robot(new CRobotTool()) {
    static int serial = 0;
    m_logPath = TempPath(std::string("link-") + LinkKindName(kind) + std::to_string(++serial) + ".log");
    m_robot->SetLog(new std::ofstream(m_logPath));
    switch (kind) {
    case LinkKind::Tcp: {
        m_sim.reset(new vxsim::SimServer());
        const int port = m_sim->ListenTcp();
        m_tcp = new CTCPPort();
        HANDLE connected = m_tcp->GetConnectEvent();
        m_tcp->Open(L"127.0.0.1", static_cast<unsigned int>(port));
        WaitFor([&] { return WaitForSingleObject(connected, 0) == WAIT_OBJECT_0 && m_tcp->IsOpen(); }, 5000);
        if (m_tcp->IsOpen()) {
            m_robot->AttachTcpPort(m_tcp);
            m_attached = true;
        }
        break;
    }
    case LinkKind::Com: {
        m_sim.reset(new vxsim::SimServer());
        if (!m_sim->ConnectTcp("127.0.0.1", kComBridgePort, 5000)) break;
        m_serial = new CSerialPort();
        if (m_serial->Open(kComNumber, 38400) == 0) {
            m_robot->AttachSerialPort(m_serial);
            m_serial->StartPolling();
            m_attached = true;
        }
        break;
    }
    case LinkKind::Ftdi: {
        SetDllDirectoryW((ExeFolder() + L"\\ftdisim").c_str());
        m_ftdi = new CFTDIPort();
        m_simDll = GetModuleHandleW(L"Ftd2xx.dll");
        SimControl("reset");
        if (OpenFTDIDeviceByIndex(*m_ftdi, 0)) {
            m_robot->AttachFTDIPort(m_ftdi);
            m_attached = true;
        }
        SetDllDirectoryW(nullptr);
        break;
    }
    }
    m_robot->SetTimeout(1000);
    if (m_attached) m_robot->StartPolling();
}

LinkRig::~LinkRig() {
    m_robot->StopPolling();
    m_robot->ReleaseWaiters();
    m_robot.reset();
    delete m_serial;
    delete m_tcp;
    if (m_ftdi) {
        m_ftdi->Close();
        delete m_ftdi;
    }
    m_sim.reset();
    DeleteFileA(m_logPath.c_str());
}

std::vector<uint8_t> LinkRig::ToolReceived() {
    if (m_sim) return m_sim->Received();
    auto written = reinterpret_cast<SimWrittenFn>(reinterpret_cast<void*>(GetProcAddress(m_simDll, "SIM_GetWritten")));
    if (!written) return {};
    std::vector<uint8_t> bytes(written(0, nullptr, 0));
    if (!bytes.empty()) written(0, bytes.data(), static_cast<unsigned long>(bytes.size()));
    return bytes;
}

void LinkRig::ClearToolReceived() {
    if (m_sim) m_sim->ClearReceived();
    else SimControl("clearwritten");
}

bool LinkRig::AddFaults(const std::string& rules) {
    if (m_sim) return m_sim->AddFaults(rules);
    return SimControl("fault " + rules) == 0;
}

int LinkRig::SimControl(const std::string& command) {
    auto control = reinterpret_cast<SimControlFn>(reinterpret_cast<void*>(GetProcAddress(m_simDll, "SIM_Control")));
    return control ? control(command.c_str()) : -1;
}

long long LinkRig::SimQuery(const std::string& name) {
    auto query = reinterpret_cast<SimQueryFn>(reinterpret_cast<void*>(GetProcAddress(m_simDll, "SIM_Query")));
    return query ? query(name.c_str()) : -1;
}

bool LinkRig::WaitFor(const std::function<bool()>& cond, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpPendingMessages();
        if (cond()) return true;
        if (GetTickCount() - start >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
}

CRobotCommand* LinkRig::WaitFinished(int id, DWORD ms) {
    CRobotCommand* record = nullptr;
    WaitFor([&] {
        record = m_robot->FindReply(id);
        return record && (record->IsReplyComplete() || record->IsAbandoned());
    }, ms);
    return record && (record->IsReplyComplete() || record->IsAbandoned()) ? record : nullptr;
}

std::string LinkRig::Log() {
    // Every line is flushed as it is written, so the file can be read while
    // the worker keeps logging.
    return ReadWholeFile(m_logPath);
}

std::vector<uint8_t> FrameOf(const wchar_t* text, bool addressed) {
    return EncodeCommand(text, std::wcslen(text), addressed, false);
}

std::vector<uint8_t> ToolInfoPreambleBytes() {
    std::vector<uint8_t> preamble(96, 0xA5);
    preamble.back() = 0;
    return preamble;
}

bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}
