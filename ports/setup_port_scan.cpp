// The setup scan of the COM-port list: devices of the setup class "Ports",
// through SETUPAPI.DLL bound at run time.
#include "ports/library_app.h"

#include <setupapi.h>

#include <memory>

#include "ports/port_name_rules.h"

namespace {

typedef HKEY(WINAPI* OpenDevRegKeyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
typedef BOOL(WINAPI* ClassGuidsFromNameFn)(PCWSTR, LPGUID, DWORD, PDWORD);
typedef HDEVINFO(WINAPI* GetClassDevsFn)(const GUID*, PCWSTR, HWND, DWORD);
typedef BOOL(WINAPI* GetDeviceRegistryPropertyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
typedef BOOL(WINAPI* DestroyDeviceInfoListFn)(HDEVINFO);
typedef BOOL(WINAPI* EnumDeviceInfoFn)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);

constexpr DWORD kTextBufferBytes = 512;
constexpr DWORD kTextChars = kTextBufferBytes / sizeof(wchar_t);

struct SetupApi {
    OpenDevRegKeyFn openDevRegKey;
    ClassGuidsFromNameFn classGuidsFromName;
    GetClassDevsFn getClassDevs;
    GetDeviceRegistryPropertyFn getDeviceRegistryProperty;
    DestroyDeviceInfoListFn destroyDeviceInfoList;
    EnumDeviceInfoFn enumDeviceInfo;
};

template <typename Fn>
bool Bind(HMODULE library, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return slot != nullptr;
}

bool BindSetupApi(HMODULE library, SetupApi& api) {
    return Bind(library, "SetupDiOpenDevRegKey", api.openDevRegKey) &&
           Bind(library, "SetupDiClassGuidsFromNameW", api.classGuidsFromName) &&
           Bind(library, "SetupDiGetClassDevsW", api.getClassDevs) &&
           Bind(library, "SetupDiGetDeviceRegistryPropertyW", api.getDeviceRegistryProperty) &&
           Bind(library, "SetupDiDestroyDeviceInfoList", api.destroyDeviceInfoList) &&
           Bind(library, "SetupDiEnumDeviceInfo", api.enumDeviceInfo);
}

// The device's "PortName" when it names a COM port by number only.
bool ReadPortNumber(HKEY key, unsigned int& number) {
    wchar_t text[kTextChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = kTextBufferBytes;
    if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text[bytes / sizeof(wchar_t) < kTextChars ? bytes / sizeof(wchar_t) : kTextChars] = 0;
    return ParseSetupPortName(text, number);
}

CString ReadDeviceDescription(const SetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA& device) {
    wchar_t text[kTextChars + 1] = {};
    DWORD type = 0;
    if (!api.getDeviceRegistryProperty(devices, &device, SPDRP_DEVICEDESC, &type, reinterpret_cast<BYTE*>(text),
                                       kTextBufferBytes, nullptr) ||
        type != REG_SZ)
        return CString();
    text[kTextChars] = 0;
    return CString(text);
}

} // namespace

bool CLibraryApp::ScanSetupPorts(CUIntArray& numbers, CStringArray& descriptions) {
    numbers.RemoveAll();
    descriptions.RemoveAll();

    HMODULE library = LoadLibraryW(L"SETUPAPI.DLL");
    if (!library) return false;
    SetupApi api;
    if (!BindSetupApi(library, api)) {
        FreeLibrary(library);
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }

    DWORD classCount = 0;
    api.classGuidsFromName(L"Ports", nullptr, 0, &classCount);
    if (classCount == 0) {
        FreeLibrary(library);
        return false;
    }
    std::unique_ptr<GUID[]> classes(new (std::nothrow) GUID[classCount]);
    if (!classes || !api.classGuidsFromName(L"Ports", classes.get(), classCount, &classCount) || classCount == 0) {
        FreeLibrary(library);
        return false;
    }
    HDEVINFO devices = api.getClassDevs(&classes[0], nullptr, nullptr, DIGCF_PRESENT);
    classes.reset();
    if (devices == INVALID_HANDLE_VALUE) {
        FreeLibrary(library);
        return false;
    }

    SP_DEVINFO_DATA device;
    for (DWORD index = 0;; ++index) {
        // The record's own size: 28 bytes on 32-bit Windows, 32 on 64-bit.
        device = SP_DEVINFO_DATA{};
        device.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!api.enumDeviceInfo(devices, index, &device)) break;
        HKEY key = api.openDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == nullptr || key == INVALID_HANDLE_VALUE) continue;
        unsigned int number = 0;
        const bool accepted = ReadPortNumber(key, number);
        RegCloseKey(key);
        if (!accepted) continue;
        numbers.Add(number);
        descriptions.Add(ReadDeviceDescription(api, devices, device));
    }
    api.destroyDeviceInfoList(devices);
    FreeLibrary(library);
    return true;
}
