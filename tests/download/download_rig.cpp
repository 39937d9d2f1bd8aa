#include "download_rig.h"

#include <fstream>

#include "protocol/crc16.h"
#include "sim/reply_frames.h"
#include "support/test_files.h"

namespace {

constexpr int kComNumber = 9;
constexpr int kComBridgePort = 47009;

// Names the x86-64 compiler gives the functions exported without a plain name.
const char kReadFlashPagesName[] = "_Z20ROBOT_ReadFlashPagesPvllllPKw";
const char kReadToolMemoryName[] = "_Z20ROBOT_ReadToolMemoryPvPP12tagSAFEARRAYlllPl";
const char kReadToolMemoryAddressedName[] = "_Z20ROBOT_ReadToolMemoryPvPP12tagSAFEARRAYlllPlPKw";

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

HMODULE SimDll() {
    // Loaded by its full path first, so that the library's own
    // LoadLibrary("Ftd2xx.dll") finds this module and no real driver.
    static HMODULE module = LoadLibraryW((ExeFolder() + L"\\ftdisim\\Ftd2xx.dll").c_str());
    return module;
}

template <typename Fn>
Fn SimExport(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(SimDll(), name)));
}

// Payloads of the command frames in a byte stream written by the library.
std::vector<std::vector<uint8_t>> FramePayloads(const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> payloads;
    size_t i = 0;
    while (i + 8 <= bytes.size()) {
        if (bytes[i] != 0xA5 || bytes[i + 1] != 0x5A) {
            ++i;
            continue;
        }
        // The word count (high nibble of byte 2, then byte 3) covers the
        // frame up to its CRC; the frame is 2N + 4 bytes.
        const size_t words = (static_cast<size_t>(bytes[i + 2] >> 4) << 8) | bytes[i + 3];
        const size_t length = 2 * words + 4;
        if (words < 2 || i + length > bytes.size()) break;
        payloads.emplace_back(bytes.begin() + i + 4, bytes.begin() + i + 2 * words);
        i += length;
    }
    return payloads;
}

} // namespace

DownloadExports::DownloadExports() {
    VornexHost& h = Host();
    AttachTcpPort = h.Export<decltype(AttachTcpPort)>("ROBOT_AttachTcpPort");
    ReleaseTcpPort = h.Export<decltype(ReleaseTcpPort)>("ReleaseTcpPort");
    AttachSerialPort = h.Export<decltype(AttachSerialPort)>("ROBOT_AttachSerialPort");
    ReleaseSerialPort = h.Export<decltype(ReleaseSerialPort)>("ReleaseSerialPort");
    AttachFTDIDeviceByIndex = h.Export<decltype(AttachFTDIDeviceByIndex)>("ROBOT_AttachFTDIDeviceByIndex");
    ReleaseFTDIDevice = h.Export<decltype(ReleaseFTDIDevice)>("ReleaseFTDIDevice");
    SendCommandBytes = h.Export<decltype(SendCommandBytes)>("ROBOT_SendCommandBytes");
    ReadToolMemorySA = h.Export<decltype(ReadToolMemorySA)>("ROBOT_ReadToolMemory");
    ReadToolMemoryAddressed = h.Export<decltype(ReadToolMemoryAddressed)>("ROBOT_ReadToolMemoryAddressed");
    ResetToolRate = h.Export<decltype(ResetToolRate)>("FTDI_ResetToolRate");
    ReadFlashPages = h.Export<decltype(ReadFlashPages)>(kReadFlashPagesName);
    ReadToolMemoryList = h.Export<decltype(ReadToolMemoryList)>(kReadToolMemoryName);
    ReadToolMemoryListAddressed = h.Export<decltype(ReadToolMemoryListAddressed)>(kReadToolMemoryAddressedName);
}

VornexHost& Host() {
    static VornexHost host;
    return host;
}

const DownloadExports& Exports() {
    static DownloadExports exports;
    return exports;
}

namespace ftdisim {

int Control(const std::string& command) {
    auto fn = SimExport<int(__stdcall*)(const char*)>("SIM_Control");
    return fn ? fn(command.c_str()) : -100;
}

long long Query(const std::string& name) {
    auto fn = SimExport<long long(__stdcall*)(const char*)>("SIM_Query");
    return fn ? fn(name.c_str()) : -100;
}

std::vector<uint8_t> Written() {
    auto fn = SimExport<unsigned long(__stdcall*)(int, unsigned char*, unsigned long)>("SIM_GetWritten");
    if (!fn) return {};
    std::vector<uint8_t> bytes(fn(0, nullptr, 0));
    if (!bytes.empty()) fn(0, bytes.data(), static_cast<unsigned long>(bytes.size()));
    return bytes;
}

} // namespace ftdisim

ToolLink::ToolLink(LinkKind kind, bool startPolling) : m_kind(kind) {
    static int serial = 0;
    m_logPath = TempPath("download-" + std::to_string(++serial) + ".log");
    const DownloadExports& x = Exports();
    m_robot = Host().Create();
    if (!m_robot) return;
    switch (kind) {
    case LinkKind::Tcp: {
        m_sim.reset(new vxsim::SimServer());
        const int port = m_sim->ListenTcp();
        if (port > 0) m_port = x.AttachTcpPort(m_robot, L"127.0.0.1", static_cast<unsigned int>(port), 5000);
        break;
    }
    case LinkKind::Com:
        m_sim.reset(new vxsim::SimServer());
        if (m_sim->ConnectTcp("127.0.0.1", kComBridgePort, 5000)) m_port = x.AttachSerialPort(m_robot, kComNumber);
        break;
    case LinkKind::Ftdi:
        if (!SimDll()) break;
        ftdisim::Control("reset");
        ftdisim::Control("nofaults");
        ftdisim::Control("pacing off");
        ftdisim::Control("triple off");
        ftdisim::Control("txstuck off");
        ftdisim::Control("clearwritten");
        SetDllDirectoryW((ExeFolder() + L"\\ftdisim").c_str());
        m_port = x.AttachFTDIDeviceByIndex(m_robot, 0);
        SetDllDirectoryW(nullptr);
        break;
    }
    Host().StartLogging(m_robot, m_logPath.c_str());
    if (m_port && startPolling) Host().StartPolling(m_robot);
    if (m_port && startPolling && kind == LinkKind::Com) WarmUpLine();
}

void ToolLink::WarmUpLine() {
    // The pty bridge may still be settling when the port opens: the first
    // bytes can be lost. One echoed command proves the line carries frames.
    Host().SetTimeout(m_robot, 1000);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const long id = Host().SendCommand(m_robot, L"0102");
        CRobotCommand* done = WaitFinished(m_robot, id, 3000);
        const bool answered = done && done->IsReplyComplete();
        Host().DeleteReply(m_robot, id);
        if (answered) break;
    }
    Host().SetTimeout(m_robot, 2000);
}

ToolLink::~ToolLink() {
    if (m_robot) {
        Host().StopPolling(m_robot);
        Host().Destroy(m_robot);
    }
    const DownloadExports& x = Exports();
    if (m_port) {
        switch (m_kind) {
        case LinkKind::Tcp: x.ReleaseTcpPort(m_port); break;
        case LinkKind::Com: x.ReleaseSerialPort(m_port); break;
        case LinkKind::Ftdi: x.ReleaseFTDIDevice(m_port); break;
        }
    }
    m_sim.reset();
    DeleteFileA(m_logPath.c_str());
}

std::vector<std::vector<uint8_t>> ToolLink::PageReads() {
    std::vector<std::vector<uint8_t>> all = m_sim ? m_sim->Commands() : FramePayloads(ftdisim::Written());
    std::vector<std::vector<uint8_t>> reads;
    for (auto& payload : all)
        if (payload.size() >= 2 && payload[0] == 0xBE && payload[1] == 0x4D) reads.push_back(payload);
    return reads;
}

bool ToolLink::AddFaults(const std::string& rules) {
    if (m_sim) return m_sim->AddFaults(rules);
    return ftdisim::Control("fault " + rules) == 0;
}

void ToolLink::SetTripleFrames(bool on) {
    if (m_sim) m_sim->SetTripleFrames(on);
    else ftdisim::Control(on ? "triple on" : "triple off");
}

std::string ToolLink::StopAndReadLog() {
    // Stopping the worker closes the log, so the file is complete.
    if (m_robot) Host().StopPolling(m_robot);
    return ReadLogFile(m_logPath);
}

std::string ReadLogFile(const std::string& path) {
    std::string text = ReadWholeFile(path);
    std::string plain;
    for (char c : text)
        if (c != '\r') plain.push_back(c);
    return plain;
}

CRobotCommand* WaitFinished(Robot robot, long id, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        CRobotCommand* record = Host().GetReply(robot, id);
        if (record && (record->IsReplyComplete() || record->IsAbandoned())) return record;
        if (GetTickCount() - start >= ms) return nullptr;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

PageListArray::PageListArray(const std::vector<std::pair<long, long>>& rows) {
    SAFEARRAYBOUND bounds[2];
    bounds[0].cElements = static_cast<ULONG>(rows.size());
    bounds[0].lLbound = 0;
    bounds[1].cElements = 2;
    bounds[1].lLbound = 0;
    m_array = SafeArrayCreate(VT_I4, 2, bounds);
    for (size_t i = 0; i < rows.size(); ++i) {
        LONG first[2] = {static_cast<LONG>(i), 0};
        LONG count[2] = {static_cast<LONG>(i), 1};
        LONG a = rows[i].first, b = rows[i].second;
        SafeArrayPutElement(m_array, first, &a);
        SafeArrayPutElement(m_array, count, &b);
    }
}

PageListArray::~PageListArray() {
    if (m_array) SafeArrayDestroy(m_array);
}

bool ReadPageMatrix(SAFEARRAY* array, PageMatrix& matrix) {
    if (!array || SafeArrayGetDim(array) != 2) return false;
    LONG lower0 = -1, upper0 = -1, lower1 = -1, upper1 = -1;
    SafeArrayGetLBound(array, 1, &lower0);
    SafeArrayGetUBound(array, 1, &upper0);
    SafeArrayGetLBound(array, 2, &lower1);
    SafeArrayGetUBound(array, 2, &upper1);
    if (lower0 != 0 || lower1 != 0) return false;
    SafeArrayGetVartype(array, &matrix.type);
    matrix.rows = upper0 + 1;
    matrix.width = upper1 + 1;
    matrix.data.assign(static_cast<size_t>(matrix.rows), std::vector<uint8_t>(static_cast<size_t>(matrix.width)));
    for (LONG r = 0; r < matrix.rows; ++r)
        for (LONG c = 0; c < matrix.width; ++c) {
            LONG at[2] = {r, c};
            SafeArrayGetElement(array, at, &matrix.data[r][c]);
        }
    return true;
}

std::vector<uint8_t> ExpectedPageFrame(uint32_t page, uint8_t index, bool sumCheck) {
    return vxsim::BuildPageFrame(page, index, sumCheck);
}

bool PageFrameSealed(const std::vector<uint8_t>& frame) {
    if (frame.size() != 272) return false;
    const uint16_t crc = CCrc16::Of(frame.data(), 268);
    return frame[268] == (crc >> 8) && frame[269] == (crc & 0xFF) && frame[270] == 0xFA && frame[271] == 0xAF;
}

std::vector<uint8_t> PageReadPayload(uint32_t first, uint8_t count, uint8_t rateByte) {
    return {0xBE,
            0x4D,
            static_cast<uint8_t>(first),
            static_cast<uint8_t>(first >> 8),
            static_cast<uint8_t>(first >> 16),
            static_cast<uint8_t>(first >> 24),
            count,
            rateByte};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}
