#include "ports/ftdi_port.h"

#include <cstring>
#include <memory>
#include <string>

#include "framework/message_box.h"

namespace {

// A wrapper's call: the function when the library supplied it, else the
// wrapper's message and status 1.
template <typename Fn, typename... Args>
FT_STATUS CallBound(Fn fn, const wchar_t* missingMessage, Args... args) {
    if (!fn) {
        ShowLibraryMessage(missingMessage);
        return d2xx::kInvalidHandle;
    }
    return fn(args...);
}

template <typename Fn>
void Lookup(HMODULE library, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (slot) return;
    std::wstring message = L"Error: Can't Find ";
    for (const char* c = name; *c; ++c) message.push_back(static_cast<wchar_t>(*c));
    ShowLibraryMessage(CString(message));
}

} // namespace

CFTDIPort::CFTDIPort()
    : m_locationId(0),
      m_comPort(0),
      m_versionMajor(0),
      m_versionMinor(0),
      m_versionBuild(0),
      m_device(nullptr),
      m_library(nullptr),
      m_baudRate(kDefaultBaudRate),
      m_fn() {
    m_library = LoadLibraryW(L"Ftd2xx.dll");
    if (!m_library) {
        ShowLibraryMessage(L"Error: Can't Load ftd2xx.dll");
        return;
    }
    BindFunctions();
}

CFTDIPort::~CFTDIPort() {
    if (m_device) Close();
    if (m_library) FreeLibrary(m_library);
}

void CFTDIPort::BindFunctions() {
    // The lookup order decides the order of the messages for missing names.
    Lookup(m_library, "FT_SetBaudRate", m_fn.setBaudRate);
    Lookup(m_library, "FT_Write", m_fn.write);
    Lookup(m_library, "FT_Read", m_fn.read);
    Lookup(m_library, "FT_Open", m_fn.open);
    Lookup(m_library, "FT_OpenEx", m_fn.openEx);
    Lookup(m_library, "FT_ListDevices", m_fn.listDevices);
    Lookup(m_library, "FT_Close", m_fn.close);
    Lookup(m_library, "FT_ResetDevice", m_fn.resetDevice);
    Lookup(m_library, "FT_Purge", m_fn.purge);
    Lookup(m_library, "FT_SetTimeouts", m_fn.setTimeouts);
    Lookup(m_library, "FT_GetQueueStatus", m_fn.getQueueStatus);
    Lookup(m_library, "FT_GetStatus", m_fn.getStatus);
    Lookup(m_library, "FT_SetDataCharacteristics", m_fn.setDataCharacteristics);
    Lookup(m_library, "FT_CyclePort", m_fn.cyclePort);
    Lookup(m_library, "FT_SetUSBParameters", m_fn.setUSBParameters);
    Lookup(m_library, "FT_SetLatencyTimer", m_fn.setLatencyTimer);
    Lookup(m_library, "FT_Rescan", m_fn.rescan);
    Lookup(m_library, "FT_Reload", m_fn.reload);
    Lookup(m_library, "FT_SetEventNotification", m_fn.setEventNotification);
    Lookup(m_library, "FT_GetLibraryVersion", m_fn.getLibraryVersion);
    Lookup(m_library, "FT_GetComPortNumber", m_fn.getComPortNumber);
    Lookup(m_library, "FT_GetDeviceInfo", m_fn.getDeviceInfo);
}

int CFTDIPort::BoundFunctionCount() const {
    const void* const slots[] = {
        reinterpret_cast<const void*>(m_fn.setBaudRate), reinterpret_cast<const void*>(m_fn.open),
        reinterpret_cast<const void*>(m_fn.openEx), reinterpret_cast<const void*>(m_fn.listDevices),
        reinterpret_cast<const void*>(m_fn.close), reinterpret_cast<const void*>(m_fn.read),
        reinterpret_cast<const void*>(m_fn.write), reinterpret_cast<const void*>(m_fn.resetDevice),
        reinterpret_cast<const void*>(m_fn.purge), reinterpret_cast<const void*>(m_fn.setTimeouts),
        reinterpret_cast<const void*>(m_fn.getQueueStatus), reinterpret_cast<const void*>(m_fn.getStatus),
        reinterpret_cast<const void*>(m_fn.setDataCharacteristics), reinterpret_cast<const void*>(m_fn.cyclePort),
        reinterpret_cast<const void*>(m_fn.setUSBParameters), reinterpret_cast<const void*>(m_fn.setLatencyTimer),
        reinterpret_cast<const void*>(m_fn.rescan), reinterpret_cast<const void*>(m_fn.reload),
        reinterpret_cast<const void*>(m_fn.setEventNotification),
        reinterpret_cast<const void*>(m_fn.getLibraryVersion),
        reinterpret_cast<const void*>(m_fn.getComPortNumber), reinterpret_cast<const void*>(m_fn.getDeviceInfo)};
    static_assert(sizeof(slots) / sizeof(slots[0]) == kFunctionCount, "one slot per function");
    int bound = 0;
    for (const void* slot : slots)
        if (slot) ++bound;
    return bound;
}

FT_STATUS CFTDIPort::SetBaudRate(ULONG rate) {
    const FT_STATUS status = CallBound(m_fn.setBaudRate, L"FT_SetBaudRate is not valid!", m_device, rate);
    if (m_fn.setBaudRate && status == d2xx::kOk) m_baudRate = rate;
    return status;
}

FT_STATUS CFTDIPort::Open(int index) { return CallBound(m_fn.open, L"FT_Open is not valid!", index, &m_device); }

FT_STATUS CFTDIPort::OpenEx(PVOID argument, DWORD flags) {
    return CallBound(m_fn.openEx, L"FT_OpenEx is not valid!", argument, flags, &m_device);
}

FT_STATUS CFTDIPort::ListDevices(PVOID a, PVOID b, DWORD flags) {
    return CallBound(m_fn.listDevices, L"FT_ListDevices is not valid!", a, b, flags);
}

FT_STATUS CFTDIPort::Close() {
    if (!m_fn.close) {
        ShowLibraryMessage(L"FT_Close is not valid!");
        return d2xx::kInvalidHandle;
    }
    const FT_STATUS status = m_fn.close(m_device);
    m_device = nullptr;
    m_locationId = 0;
    return status;
}

FT_STATUS CFTDIPort::Read(LPVOID buffer, DWORD count, LPDWORD returned) {
    return CallBound(m_fn.read, L"FT_Read is not valid!", m_device, buffer, count, returned);
}

FT_STATUS CFTDIPort::Write(LPVOID buffer, DWORD count, LPDWORD written) {
    return CallBound(m_fn.write, L"FT_Write is not valid!", m_device, buffer, count, written);
}

FT_STATUS CFTDIPort::ResetDevice() {
    return CallBound(m_fn.resetDevice, L"FT_ResetDevice is not valid!", m_device);
}

FT_STATUS CFTDIPort::Purge(ULONG mask) { return CallBound(m_fn.purge, L"FT_Purge is not valid!", m_device, mask); }

FT_STATUS CFTDIPort::SetTimeouts(ULONG readMs, ULONG writeMs) {
    return CallBound(m_fn.setTimeouts, L"FT_SetTimeouts is not valid!", m_device, readMs, writeMs);
}

FT_STATUS CFTDIPort::GetQueueStatus(DWORD* received) {
    return CallBound(m_fn.getQueueStatus, L"FT_GetQueueStatus is not valid!", m_device, received);
}

FT_STATUS CFTDIPort::GetStatus(DWORD* received, DWORD* queued, DWORD* events) {
    return CallBound(m_fn.getStatus, L"FT_GetStatus is not valid!", m_device, received, queued, events);
}

FT_STATUS CFTDIPort::SetDataCharacteristics(UCHAR bits, UCHAR stop, UCHAR parity) {
    return CallBound(m_fn.setDataCharacteristics, L"FT_SetDataCharacteristics is not valid!", m_device, bits, stop,
                     parity);
}

FT_STATUS CFTDIPort::CyclePort() { return CallBound(m_fn.cyclePort, L"FT_CyclePort", m_device); }

FT_STATUS CFTDIPort::SetLatencyTimer(UCHAR ms) {
    return CallBound(m_fn.setLatencyTimer, L"FT_SetLatencyTimer", m_device, ms);
}

FT_STATUS CFTDIPort::SetUSBParameters(ULONG inSize, ULONG outSize) {
    return CallBound(m_fn.setUSBParameters, L"FT_SetUSBParameters", m_device, inSize, outSize);
}

FT_STATUS CFTDIPort::Rescan() { return CallBound(m_fn.rescan, L"FT_Rescan"); }

FT_STATUS CFTDIPort::Reload(WORD vendorId, WORD productId) {
    return CallBound(m_fn.reload, L"FT_Reload", vendorId, productId);
}

FT_STATUS CFTDIPort::SetEventNotification(DWORD mask, PVOID parameter) {
    return CallBound(m_fn.setEventNotification, L"FT_SetEventNotification", m_device, mask, parameter);
}

FT_STATUS CFTDIPort::GetLibraryVersion(LPDWORD version) {
    return CallBound(m_fn.getLibraryVersion, L"FT_GetLibraryVersion", version);
}

FT_STATUS CFTDIPort::GetComPortNumber(LPLONG port) {
    return CallBound(m_fn.getComPortNumber, L"FT_GetComPortNumber", m_device, port);
}

FT_STATUS CFTDIPort::GetDeviceInfo(ULONG* type, LPDWORD id, char* serial, char* description, LPVOID reserved) {
    return CallBound(m_fn.getDeviceInfo, L"FT_GetDeviceInfo", m_device, type, id, serial, description, reserved);
}

bool CFTDIPort::ReadFileVersion() {
    // Without a loaded library the path would be the host program's own.
    if (!m_library) return false;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(m_library, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return false;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
    if (!block || !GetFileVersionInfoW(path, 0, size, block.get())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength) && fixed &&
        fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
        m_versionMajor = static_cast<unsigned char>(HIWORD(fixed->dwProductVersionMS) & 0xFF);
        m_versionMinor = static_cast<unsigned char>(LOWORD(fixed->dwProductVersionMS) & 0xFF);
        m_versionBuild = static_cast<unsigned char>(HIWORD(fixed->dwProductVersionLS) & 0xFF);
    }
    return true;
}
