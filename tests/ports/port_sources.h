#pragma once
// The two places the COM-port list comes from, written by the test: devices of
// the setup class "Ports" (Wine's SetupAPI keeps them in the prefix registry)
// and values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM. Everything added is
// removed again, also what an earlier, aborted run left behind.
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

class TestPortDevices {
public:
    TestPortDevices() { RemoveTagged(); }
    ~TestPortDevices() { RemoveTagged(); }
    TestPortDevices(const TestPortDevices&) = delete;
    TestPortDevices& operator=(const TestPortDevices&) = delete;

    // A present device whose "PortName" is portName, described as description.
    bool Add(const wchar_t* portName, const wchar_t* description) {
        GUID ports;
        if (!PortsClass(ports)) return false;
        HDEVINFO set = SetupDiCreateDeviceInfoList(&ports, nullptr);
        if (set == INVALID_HANDLE_VALUE) return false;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        bool ok = SetupDiCreateDeviceInfoW(set, L"PORTS", &ports, description, nullptr, DICD_GENERATE_ID, &device) &&
                  SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr) &&
                  SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC,
                                                    reinterpret_cast<const BYTE*>(description),
                                                    static_cast<DWORD>((wcslen(description) + 1) * sizeof(wchar_t)));
        if (ok) {
            HKEY key = SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
            ok = key != INVALID_HANDLE_VALUE;
            if (ok) {
                const DWORD tag = 1;
                ok = SetString(key, L"PortName", portName) &&
                     RegSetValueExW(key, kTag, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&tag), sizeof(tag)) ==
                         ERROR_SUCCESS;
                RegCloseKey(key);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return ok;
    }

private:
    static constexpr const wchar_t* kTag = L"VornexTestDevice";

    static bool PortsClass(GUID& ports) {
        DWORD count = 0;
        return SetupDiClassGuidsFromNameW(L"Ports", &ports, 1, &count) && count >= 1;
    }
    static bool SetString(HKEY key, const wchar_t* name, const wchar_t* text) {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

    static void RemoveTagged() {
        GUID ports;
        if (!PortsClass(ports)) return;
        HDEVINFO set = SetupDiGetClassDevsW(&ports, nullptr, nullptr, 0);
        if (set == INVALID_HANDLE_VALUE) return;
        std::vector<SP_DEVINFO_DATA> ours;
        for (DWORD i = 0;; ++i) {
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            if (!SetupDiEnumDeviceInfo(set, i, &device)) break;
            HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
            if (key == INVALID_HANDLE_VALUE) continue;
            const bool tagged = RegQueryValueExW(key, kTag, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
            RegCloseKey(key);
            if (tagged) ours.push_back(device);
        }
        for (SP_DEVINFO_DATA& device : ours) SetupDiRemoveDevice(set, &device);
        SetupDiDestroyDeviceInfoList(set);
    }
};

class SerialCommValues {
public:
    SerialCommValues() {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &m_key, nullptr);
    }
    ~SerialCommValues() {
        for (const std::wstring& name : m_added) RegDeleteValueW(m_key, name.c_str());
        if (m_key) RegCloseKey(m_key);
    }
    SerialCommValues(const SerialCommValues&) = delete;
    SerialCommValues& operator=(const SerialCommValues&) = delete;

    bool Add(const wchar_t* name, const wchar_t* data) {
        if (!m_key) return false;
        m_added.push_back(name);
        return RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                              static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    bool AddNumber(const wchar_t* name, DWORD value) {
        if (!m_key) return false;
        m_added.push_back(name);
        return RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
               ERROR_SUCCESS;
    }
    void Remove(const wchar_t* name) { RegDeleteValueW(m_key, name); }

private:
    HKEY m_key = nullptr;
    std::vector<std::wstring> m_added;
};
