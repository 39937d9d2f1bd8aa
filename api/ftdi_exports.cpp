#include "api/ftdi_exports.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "api/host_text.h"
#include "api/safearray_write.h"
#include "common/com_error.h"
#include "framework/module_state.h"
#include "framework/vx_string.h"

namespace {

constexpr int kDescriptionBytes = 64;
constexpr int kSerialBytes = 16;
constexpr int kListAllSlots = 10;  // the pointer array has room for ten devices

CFTDIPort* PortFromHandle(FtdiPortHandle handle) { return static_cast<CFTDIPort*>(handle); }

// Ten zero-filled description buffers and the null-terminated pointer array
// that FT_ListDevices fills when asked for every description at once.
struct AllDescriptions {
    char buffers[kListAllSlots][kDescriptionBytes];
    char* pointers[kListAllSlots + 1];
    DWORD count;

    AllDescriptions() : count(0) {
        std::memset(buffers, 0, sizeof buffers);
        for (int i = 0; i < kListAllSlots; ++i) pointers[i] = buffers[i];
        pointers[kListAllSlots] = nullptr;
    }
    // Status 0 or 3 with at least one device. Beyond ten devices only the
    // first ten can be listed this way; the count is cut to what the buffers
    // hold, so nothing past them is read.
    bool List(CFTDIPort& port) {
        const FT_STATUS status = port.ListDevices(pointers, &count, d2xx::kListAll | d2xx::kByDescription);
        if ((status != d2xx::kOk && status != d2xx::kDeviceNotOpened) || count < 1) return false;
        if (count > kListAllSlots) count = kListAllSlots;
        for (auto& buffer : buffers) buffer[kDescriptionBytes - 1] = '\0';
        return true;
    }
};

CString WideFromAnsi(const char* text) {
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 1) return CString();
    std::vector<wchar_t> wide(static_cast<size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed);
    return CString(wide.data());
}

void PrepareOpenedDevice(CFTDIPort& port) {
    port.ResetDevice();
    port.Purge(d2xx::kPurgeRx | d2xx::kPurgeTx);
    port.SetTimeouts(100, 100);
    port.SetDataCharacteristics(d2xx::kBits8, d2xx::kStopBits1, d2xx::kParityNone);
    port.SetBaudRate(38400);
}

} // namespace

bool FindFTDIDevice(CFTDIPort& port, const wchar_t* name) {
    VX_MANAGE_STATE();
    AllDescriptions all;
    if (!all.List(port)) return false;
    const wchar_t* wanted = name ? name : L"";
    const size_t length = std::wcslen(wanted);
    for (DWORD i = 0; i < all.count; ++i) {
        const CString description = WideFromAnsi(all.buffers[i]);
        if (_wcsnicmp(description.GetString(), wanted, length) == 0) return true;
    }
    return false;
}

BOOL OpenFTDIDevice(CFTDIPort& port, const wchar_t* description) {
    VX_MANAGE_STATE();
    if (port.IsOpen()) port.Close();
    const std::string wanted = NarrowText(description ? description : L"", description ? std::wcslen(description) : 0);
    DWORD count = 0;
    port.ListDevices(&count, nullptr, d2xx::kListNumberOnly);
    bool opened = false;
    DWORD location = 0;
    for (DWORD i = 0; i < count && !opened; ++i) {
        char found[kDescriptionBytes] = {};
        DWORD loc = 0;
        if (port.ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(i)), found,
                             d2xx::kListByIndex | d2xx::kByDescription) != d2xx::kOk)
            continue;
        if (port.ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(i)), &loc,
                             d2xx::kListByIndex | d2xx::kByLocation) != d2xx::kOk)
            continue;
        found[kDescriptionBytes - 1] = '\0';
        if (wanted != found) continue;
        // A device that will not open (busy) is passed over for the next one
        // with the same description.
        if (port.OpenEx(reinterpret_cast<PVOID>(static_cast<uintptr_t>(loc)), d2xx::kByLocation) == d2xx::kOk) {
            opened = true;
            location = loc;
        }
    }
    if (!opened) {
        port.Close();
        return false;
    }
    port.SetLocationId(location);
    PrepareOpenedDevice(port);
    return true;
}

bool OpenFTDIDeviceByLoc(CFTDIPort& port, unsigned long location) {
    VX_MANAGE_STATE();
    if (port.IsOpen()) port.Close();
    if (port.OpenEx(reinterpret_cast<PVOID>(static_cast<uintptr_t>(location)), d2xx::kByLocation) != d2xx::kOk) {
        port.Close();
        return false;
    }
    port.SetLocationId(static_cast<uint32_t>(location));
    PrepareOpenedDevice(port);
    return true;
}

bool OpenFTDIDeviceByIndex(CFTDIPort& port, unsigned long index) {
    VX_MANAGE_STATE();
    if (port.IsOpen()) port.Close();
    if (port.Open(static_cast<int>(index)) != d2xx::kOk) {
        port.Close();
        return false;
    }
    port.SetLocationId(0);
    PrepareOpenedDevice(port);
    return true;
}

bool CloseFTDIDevice(CFTDIPort& port) {
    VX_MANAGE_STATE();
    return port.Close() == d2xx::kOk;
}

long __stdcall FTDI_GetLocID(FtdiPortHandle handle) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? static_cast<long>(port->GetLocationId()) : 0;
}

long __stdcall FTDI_ResetDevice(FtdiPortHandle handle) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? static_cast<long>(port->ResetDevice()) : 0;
}

long __stdcall FTDI_CyclePort(FtdiPortHandle handle) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? static_cast<long>(port->CyclePort()) : 0;
}

unsigned long __stdcall SetFTDIBaud(FtdiPortHandle handle, unsigned long rate) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? port->SetBaudRate(rate) : d2xx::kInvalidParameter;
}

unsigned long __stdcall SetFTDILatency(FtdiPortHandle handle, unsigned long ms) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? port->SetLatencyTimer(static_cast<UCHAR>(ms)) : d2xx::kInvalidParameter;
}

unsigned long __stdcall SetFTDIUSBParameters(FtdiPortHandle handle, unsigned long inSize, unsigned long outSize) {
    VX_MANAGE_STATE();
    CFTDIPort* port = PortFromHandle(handle);
    return port ? port->SetUSBParameters(inSize, outSize) : d2xx::kInvalidParameter;
}

long __stdcall FTDI_GetDeviceStrings(SAFEARRAY** descriptions) {
    VX_MANAGE_STATE();
    CFTDIPort port;
    AllDescriptions all;
    if (!all.List(port)) return 0;
    std::vector<CString> list;
    try {
        for (DWORD i = 0; i < all.count; ++i) list.push_back(WideFromAnsi(all.buffers[i]));
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);  // copying the strings for the host
    }
    StringsToSafeArray(list, descriptions);
    return static_cast<long>(all.count);
}

long __stdcall FTDI_Enumerate(SAFEARRAY** descriptions, SAFEARRAY** comPorts, SAFEARRAY** indexes,
                              SAFEARRAY** locations, SAFEARRAY** serials) {
    VX_MANAGE_STATE();
    CFTDIPort port;
    DWORD count = 0;
    if (port.ListDevices(&count, nullptr, d2xx::kListNumberOnly) != d2xx::kOk) return 0;
    std::vector<CString> descriptionList, serialList;
    std::vector<long> portList, indexList, locationList;
    // A device left open is closed by the port's destructor.
    try {
        for (DWORD i = 0; i < count; ++i) {
            if (port.Open(static_cast<int>(i)) != d2xx::kOk) continue;  // busy or gone: left out
            LONG comPort = 0;
            if (port.GetComPortNumber(&comPort) != d2xx::kOk) {
                port.Close();
                continue;
            }
            ULONG type = 0;
            DWORD id = 0;
            char serial[kSerialBytes + 1] = {};
            char description[kDescriptionBytes + 1] = {};
            if (port.GetDeviceInfo(&type, &id, serial, description, nullptr) != d2xx::kOk) {
                port.Close();
                continue;
            }
            descriptionList.push_back(WideFromAnsi(description));
            serialList.push_back(WideFromAnsi(serial));
            portList.push_back(comPort);
            indexList.push_back(static_cast<long>(i));
            port.Close();
            DWORD location = 0;
            const FT_STATUS status = port.ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(i)), &location,
                                                      d2xx::kListByIndex | d2xx::kByLocation);
            locationList.push_back(status == d2xx::kOk ? static_cast<long>(location) : 0);
        }
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);  // copying the strings for the host
    }
    StringsToSafeArray(descriptionList, descriptions);
    StringsToSafeArray(serialList, serials);
    LongsToSafeArray(portList, comPorts);
    LongsToSafeArray(indexList, indexes);
    LongsToSafeArray(locationList, locations);
    return static_cast<long>(indexList.size());
}

long __stdcall FTDI_GetLibraryVersion() {
    VX_MANAGE_STATE();
    CFTDIPort port;
    // Without the library there is no file to read: the version is 0.
    if (!port.ReadFileVersion()) return 0;
    return port.GetVersionMajor() * 65536L + port.GetVersionMinor() * 256L + port.GetVersionBuild();
}

long __stdcall FTDI_GetDriverStatus() {
    VX_MANAGE_STATE();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager) return -1;
    DWORD needed = 0, returned = 0, resume = 0;
    EnumServicesStatusW(manager, SERVICE_KERNEL_DRIVER, SERVICE_STATE_ALL, nullptr, 0, &needed, &returned, &resume);
    if (needed == 0) {
        CloseServiceHandle(manager);
        return -2;
    }
    std::vector<BYTE> buffer;
    try {
        buffer.resize(needed + 16);
    } catch (const std::bad_alloc&) {
        CloseServiceHandle(manager);
        return -1;  // the list of services cannot be read
    }
    resume = 0;
    long result = 0;
    if (EnumServicesStatusW(manager, SERVICE_KERNEL_DRIVER, SERVICE_ACTIVE,
                            reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                            &needed, &returned, &resume)) {
        const ENUM_SERVICE_STATUSW* services = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i)
            if (services[i].lpServiceName && std::wcscmp(services[i].lpServiceName, L"FTSER2K") == 0)
                result = static_cast<long>(services[i].ServiceStatus.dwCurrentState);
    }
    CloseServiceHandle(manager);
    return result;
}
