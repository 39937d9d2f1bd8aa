#include "ports/library_app.h"

#include <winsock2.h>

#include <utility>

#include "ports/port_name_rules.h"

namespace {

constexpr unsigned int kHighestListedPort = 255;

// The application object together with its start-up, so that whoever comes
// first starts it, exactly once, outside the loader lock.
struct StartedApp {
    CLibraryApp app;
    StartedApp() { app.InitInstance(); }
};

} // namespace

CLibraryApp& GetLibraryApp() {
    static StartedApp started;
    return started.app;
}

CLibraryApp::CLibraryApp() : m_socketsStarted(false) {}

// The socket layer is left to process exit: cleaning it up here would run
// under the loader lock, where it may wait for other threads.
CLibraryApp::~CLibraryApp() = default;

bool CLibraryApp::InitInstance() {
    WSADATA data;
    m_socketsStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    CUIntArray numbers;
    CStringArray descriptions;
    ScanSetupPorts(numbers, descriptions);
    SortPortList(numbers, descriptions);
    return CWinApp::InitInstance();
}

int CLibraryApp::RescanPorts() {
    CUIntArray numbers;
    CStringArray descriptions;
    ScanSetupPorts(numbers, descriptions);
    ScanRegistryPorts(numbers, descriptions);
    SortPortList(numbers, descriptions);
    return GetPortCount();
}

unsigned int CLibraryApp::GetPortNumberAt(int position) const {
    if (position < 0 || position >= m_portNumbers.GetSize()) return 0;
    return m_portNumbers[position];
}

CString CLibraryApp::GetPortDescriptionAt(int position) const {
    if (position < 0 || position >= m_portDescriptions.GetSize()) return CString();
    return m_portDescriptions[position];
}

void CLibraryApp::SortPortList(const CUIntArray& numbers, const CStringArray& descriptions) {
    const int count = numbers.GetSize() < descriptions.GetSize() ? numbers.GetSize() : descriptions.GetSize();
    int firstAt[kHighestListedPort + 1];
    for (int& position : firstAt) position = -1;
    for (int i = 0; i < count; ++i) {
        const unsigned int number = numbers[i];
        if (number <= kHighestListedPort && firstAt[number] < 0) firstAt[number] = i;
    }
    // Built aside and moved in: running out of memory part-way leaves the
    // list as it was, numbers and descriptions still index for index.
    CUIntArray sortedNumbers;
    CStringArray sortedDescriptions;
    for (unsigned int number = 0; number <= kHighestListedPort; ++number) {
        if (firstAt[number] < 0) continue;
        sortedNumbers.Add(number);
        sortedDescriptions.Add(descriptions[firstAt[number]]);
    }
    m_portNumbers = std::move(sortedNumbers);
    m_portDescriptions = std::move(sortedDescriptions);
}

bool CLibraryApp::IsDigitString(const wchar_t* text, bool allowColon) { return ::IsDigitString(text, allowColon); }

bool CLibraryApp::ReadSerialCommValue(DWORD index, wchar_t (&data)[kSerialCommDataChars + 1], CString& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    constexpr DWORD kNameChars = 1024;
    wchar_t valueName[kNameChars + 1] = {};
    DWORD nameChars = kNameChars;
    DWORD type = 0;
    DWORD dataBytes = kSerialCommDataChars * sizeof(wchar_t);
    const LONG result = RegEnumValueW(key, index, valueName, &nameChars, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return false;
    // The stored text need not end with a terminator.
    data[dataBytes / sizeof(wchar_t) <= kSerialCommDataChars ? dataBytes / sizeof(wchar_t) : kSerialCommDataChars] = 0;
    valueName[nameChars <= kNameChars ? nameChars : kNameChars] = 0;
    name = SerialCommShortName(valueName);
    return true;
}

void CLibraryApp::ScanRegistryPorts(CUIntArray& numbers, CStringArray& descriptions) {
    bool known[kHighestListedPort + 1] = {};
    for (int i = 0; i < numbers.GetSize(); ++i)
        if (numbers[i] <= kHighestListedPort) known[numbers[i]] = true;

    wchar_t data[kSerialCommDataChars + 1];
    CString name;
    for (DWORD index = 0; ReadSerialCommValue(index, data, name); ++index) {
        unsigned int number = 0;
        if (!ParseSerialCommData(data, number)) continue;
        if (number < 1 || number > kHighestListedPort || known[number]) continue;
        numbers.Add(number);
        descriptions.Add(name);
    }
}
