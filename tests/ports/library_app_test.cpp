// The application object: its start-up, its message pump, and the COM-port
// list's scans and sort fed directly with working arrays.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ports/library_app.h"
#include "ports/port_name_rules.h"
#include "tests/ports/port_sources.h"

namespace {

std::map<unsigned int, std::wstring> AsMap(const CUIntArray& numbers, const CStringArray& descriptions) {
    std::map<unsigned int, std::wstring> entries;
    for (int i = 0; i < numbers.GetSize(); ++i) entries.emplace(numbers[i], descriptions[i].Str());
    return entries;
}

int Occurrences(const CUIntArray& numbers, unsigned int number) {
    int found = 0;
    for (int i = 0; i < numbers.GetSize(); ++i) found += numbers[i] == number;
    return found;
}

} // namespace

TEST(LibraryApp, CreatedOnceWhateverThreadComesFirst) {
    std::vector<CLibraryApp*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &GetLibraryApp(); });
    for (std::thread& t : threads) t.join();
    for (CLibraryApp* app : seen) EXPECT_EQ(app, &GetLibraryApp());
    EXPECT_TRUE(GetLibraryApp().SocketsStarted());
}

TEST(LibraryApp, PumpsOneMessageAndReportsQuit) {
    CLibraryApp& app = GetLibraryApp();
    EXPECT_TRUE(app.PumpMessage());  // empty queue: returns at once
    PostThreadMessageW(GetCurrentThreadId(), WM_USER + 5, 0, 0);
    PostQuitMessage(3);
    EXPECT_TRUE(app.PumpMessage());
    EXPECT_FALSE(app.PumpMessage());
    EXPECT_TRUE(app.OnIdle(0));
    EXPECT_FALSE(app.OnIdle(1));
}

TEST(PortList, SortKeepsTheFirstOfEachNumberUpTo255) {
    CLibraryApp app;
    CUIntArray numbers;
    CStringArray descriptions;
    const std::pair<unsigned int, const wchar_t*> found[] = {
        {3, L"USB Serial Port"}, {1, L"Communications Port"}, {300, L"Far"}, {3, L"Second three"},
        {255, L"Top"},           {0, L"Zero"},                {256, L"Over"}};
    for (const auto& entry : found) {
        numbers.Add(entry.first);
        descriptions.Add(entry.second);
    }
    app.SortPortList(numbers, descriptions);
    ASSERT_EQ(app.m_portNumbers.GetSize(), 4);
    ASSERT_EQ(app.m_portDescriptions.GetSize(), 4);
    const unsigned int expectedNumbers[] = {0, 1, 3, 255};
    const wchar_t* expectedTexts[] = {L"Zero", L"Communications Port", L"USB Serial Port", L"Top"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(app.m_portNumbers[i], expectedNumbers[i]);
        EXPECT_EQ(app.m_portDescriptions[i].Str(), expectedTexts[i]);
    }
    app.SortPortList(CUIntArray(), CStringArray());
    EXPECT_EQ(app.GetPortCount(), 0);
    EXPECT_EQ(app.GetPortNumberAt(0), 0u);
    EXPECT_TRUE(app.GetPortDescriptionAt(-1).IsEmpty());
}

TEST(PortList, SetupScanTakesOnlyComPortsByNumber) {
    TestPortDevices devices;
    ASSERT_TRUE(devices.Add(L"COM3", L"USB Serial Port"));
    ASSERT_TRUE(devices.Add(L"COM1", L"Communications Port"));
    ASSERT_TRUE(devices.Add(L"COM4:", L"Colon"));
    ASSERT_TRUE(devices.Add(L"LPT1", L"Printer Port"));
    ASSERT_TRUE(devices.Add(L"com12", L"Lower Case"));
    ASSERT_TRUE(devices.Add(L"COM300", L"Far Port"));
    CLibraryApp app;
    CUIntArray numbers;
    CStringArray descriptions;
    numbers.Add(99);  // the scan starts from empty arrays
    descriptions.Add(L"stale");
    ASSERT_TRUE(app.ScanSetupPorts(numbers, descriptions));
    ASSERT_EQ(numbers.GetSize(), descriptions.GetSize());
    const std::map<unsigned int, std::wstring> expected = {
        {1, L"Communications Port"}, {3, L"USB Serial Port"}, {12, L"Lower Case"}, {300, L"Far Port"}};
    EXPECT_EQ(AsMap(numbers, descriptions), expected);
    EXPECT_EQ(numbers.GetSize(), 4);
}

TEST(PortList, RegistryScanAddsUnknownNumbersFrom1To255WithTheirShortNames) {
    SerialCommValues serialComm;
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Dup3", L"COM3"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\VCP0", L"COM7"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Zero", L"COM0"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Big", L"COM256"));
    ASSERT_TRUE(serialComm.Add(L"Plain", L"COM8"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Suffix", L"com12abc"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Letters", L"COMx"));
    CLibraryApp app;
    CUIntArray numbers;
    CStringArray descriptions;
    numbers.Add(3);
    descriptions.Add(L"USB Serial Port");
    app.ScanRegistryPorts(numbers, descriptions);

    EXPECT_EQ(numbers[0], 3u);  // what was there stays first
    EXPECT_EQ(descriptions[0].Str(), L"USB Serial Port");
    EXPECT_EQ(Occurrences(numbers, 3), 1);
    EXPECT_EQ(Occurrences(numbers, 0), 0);
    EXPECT_EQ(Occurrences(numbers, 256), 0);
    const std::map<unsigned int, std::wstring> found = AsMap(numbers, descriptions);
    EXPECT_EQ(found.at(7), L"VCP0");
    EXPECT_EQ(found.at(8), L"Plain");
    EXPECT_EQ(found.at(12), L"Suffix");
    for (const auto& entry : found) EXPECT_NE(entry.second, L"Letters");
}

TEST(PortList, ANonTextValueEndsTheRegistryScan) {
    SerialCommValues serialComm;
    ASSERT_TRUE(serialComm.AddNumber(L"\\Device\\Numeric", 5));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Other", L"COM11"));
    // Where the number stands among the values is the platform's business;
    // what comes after it is not scanned.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key), ERROR_SUCCESS);
    bool numericSeen = false, otherAfterNumeric = false;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        if (RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::wstring(name) == L"\\Device\\Numeric") numericSeen = true;
        if (std::wstring(name) == L"\\Device\\Other") otherAfterNumeric = numericSeen;
    }
    RegCloseKey(key);
    CLibraryApp app;
    CUIntArray numbers;
    CStringArray descriptions;
    app.ScanRegistryPorts(numbers, descriptions);
    EXPECT_EQ(Occurrences(numbers, 11), otherAfterNumeric ? 0 : 1);
}

TEST(PortList, SerialCommValuesAreReadByIndexWithShortNames) {
    SerialCommValues serialComm;
    ASSERT_TRUE(serialComm.Add(L"\\Device\\VCP0", L"COM7"));
    CLibraryApp app;
    wchar_t data[CLibraryApp::kSerialCommDataChars + 1];
    CString name;
    bool found = false;
    DWORD index = 0;
    for (; app.ReadSerialCommValue(index, data, name); ++index)
        if (name.Str() == L"VCP0") found = std::wstring(data) == L"COM7";
    EXPECT_TRUE(found);
    EXPECT_FALSE(app.ReadSerialCommValue(index + 100, data, name));
}

TEST(PortNameRules, DigitStrings) {
    EXPECT_FALSE(IsDigitString(nullptr, false));
    EXPECT_FALSE(IsDigitString(L"", true));
    EXPECT_TRUE(IsDigitString(L"0123456789", false));
    EXPECT_FALSE(IsDigitString(L"12:", false));
    EXPECT_TRUE(IsDigitString(L"12:", true));
    EXPECT_FALSE(IsDigitString(L"1 2", true));
    EXPECT_TRUE(CLibraryApp::IsDigitString(L"7", false));
}

TEST(PortNameRules, SetupPortNames) {
    unsigned int number = 0;
    EXPECT_TRUE(ParseSetupPortName(L"COM1", number));
    EXPECT_EQ(number, 1u);
    EXPECT_TRUE(ParseSetupPortName(L"cOm042", number));
    EXPECT_EQ(number, 42u);
    EXPECT_TRUE(ParseSetupPortName(L"COM99999999999999", number));
    EXPECT_EQ(number, static_cast<unsigned int>(INT_MAX));  // then dropped as above 255
    for (const wchar_t* refused : {L"COM4:", L"LPT1", L"COM", L"COM1a", L"CON1", L"", L"COM-1"})
        EXPECT_FALSE(ParseSetupPortName(refused, number)) << refused;
    EXPECT_FALSE(ParseSetupPortName(nullptr, number));
}

TEST(PortNameRules, SerialCommData) {
    unsigned int number = 0;
    EXPECT_TRUE(ParseSerialCommData(L"COM7", number));
    EXPECT_EQ(number, 7u);
    EXPECT_TRUE(ParseSerialCommData(L"com12abc", number));
    EXPECT_EQ(number, 12u);
    for (const wchar_t* refused : {L"COMx", L"COM", L"LPT2", L"CO1", L""})
        EXPECT_FALSE(ParseSerialCommData(refused, number)) << refused;
}

TEST(PortNameRules, SerialCommShortNames) {
    EXPECT_EQ(SerialCommShortName(L"\\Device\\VCP0").Str(), L"VCP0");
    EXPECT_EQ(SerialCommShortName(L"a\\b\\c").Str(), L"c");
    EXPECT_EQ(SerialCommShortName(L"Plain").Str(), L"Plain");
    EXPECT_EQ(SerialCommShortName(L"\\Lead").Str(), L"\\Lead");
    EXPECT_EQ(SerialCommShortName(L"Trail\\").Str(), L"Trail\\");
    EXPECT_EQ(SerialCommShortName(nullptr).Str(), L"");
}
