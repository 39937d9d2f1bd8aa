// The COM-port list through vornex.dll's exports, fed by setup devices and
// SERIALCOMM values the test writes into the Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "support/vornex_host.h"
#include "tests/ports/port_sources.h"

namespace {

typedef int(__stdcall* PortCountFn)();
typedef BSTR(__stdcall* PortDescriptionFn)(int);
typedef int(__stdcall* PortNumberFn)(int);

struct ListedPort {
    int number;
    std::wstring text;
};

std::wstring TakeText(BSTR text) {
    std::wstring copy = text ? std::wstring(text, SysStringLen(text)) : std::wstring(L"<null>");
    SysFreeString(text);
    return copy;
}

class PortList : public ::testing::Test {
protected:
    void SetUp() override {
        count = host.Export<PortCountFn>("GetPortCount");
        description = host.Export<PortDescriptionFn>("GetPortDescription");
        number = host.Export<PortNumberFn>("GetPortNumber");
    }

    std::vector<ListedPort> Rescan() {
        std::vector<ListedPort> ports;
        const int n = count();
        for (int i = 1; i <= n; ++i) ports.push_back({number(i), TakeText(description(i))});
        return ports;
    }
    static const ListedPort* Find(const std::vector<ListedPort>& ports, int wanted) {
        for (const ListedPort& port : ports)
            if (port.number == wanted) return &port;
        return nullptr;
    }

    VornexHost host;
    TestPortDevices devices;
    SerialCommValues serialComm;
    PortCountFn count = nullptr;
    PortDescriptionFn description = nullptr;
    PortNumberFn number = nullptr;
};

} // namespace

TEST_F(PortList, SetupDevicesAreSortedByNumberAndDescribed) {
    ASSERT_TRUE(devices.Add(L"COM3", L"USB Serial Port"));
    ASSERT_TRUE(devices.Add(L"COM1", L"Communications Port"));
    const std::vector<ListedPort> ports = Rescan();
    ASSERT_GE(ports.size(), 2u);
    for (size_t i = 1; i < ports.size(); ++i) EXPECT_LT(ports[i - 1].number, ports[i].number);
    ASSERT_NE(Find(ports, 1), nullptr);
    ASSERT_NE(Find(ports, 3), nullptr);
    // COM1 is also in SERIALCOMM (Wine's \Device\Serial0): listed once, as the setup device.
    EXPECT_EQ(Find(ports, 1)->text, L"Communications Port (COM1)");
    EXPECT_EQ(Find(ports, 3)->text, L"USB Serial Port (COM3)");
}

TEST_F(PortList, OddPortNamesAreNotListed) {
    ASSERT_TRUE(devices.Add(L"COM4:", L"Colon Port"));
    ASSERT_TRUE(devices.Add(L"LPT1", L"Printer Port"));
    ASSERT_TRUE(devices.Add(L"COM300", L"Far Port"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Far", L"COM301"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Printer", L"LPT2"));
    const std::vector<ListedPort> ports = Rescan();
    for (const ListedPort& port : ports) {
        EXPECT_NE(port.number, 4) << "COM4: was listed";
        EXPECT_LE(port.number, 255);
        EXPECT_EQ(port.text.find(L"Printer"), std::wstring::npos);
        EXPECT_EQ(port.text.find(L"Far"), std::wstring::npos);
    }
}

TEST_F(PortList, RegistryOnlyPortsUseTheValueNameAndSetupWinsOnDuplicates) {
    ASSERT_TRUE(devices.Add(L"COM5", L"Setup Five"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\VCP0", L"COM7"));
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Dup5", L"COM5"));
    const std::vector<ListedPort> ports = Rescan();
    ASSERT_NE(Find(ports, 7), nullptr);
    EXPECT_EQ(Find(ports, 7)->text, L"VCP0 (COM7)");
    int fives = 0;
    for (const ListedPort& port : ports) fives += port.number == 5;
    EXPECT_EQ(fives, 1);
    EXPECT_EQ(Find(ports, 5)->text, L"Setup Five (COM5)");
}

TEST_F(PortList, OutOfRangeIndexesGiveAnEmptyTextAndZero) {
    const int n = count();
    for (int index : {0, -1, n + 1, 100000}) {
        BSTR text = description(index);
        ASSERT_NE(text, nullptr) << index;
        EXPECT_EQ(SysStringLen(text), 0u) << index;
        SysFreeString(text);
        EXPECT_EQ(number(index), 0) << index;
    }
}

TEST_F(PortList, OnlyTheCountRescans) {
    const int before = count();
    ASSERT_TRUE(serialComm.Add(L"\\Device\\Late9", L"COM9"));
    // Reading walks the list made by the last count.
    for (int i = 1; i <= before; ++i) EXPECT_NE(number(i), 9);
    EXPECT_EQ(number(before + 1), 0);
    const std::vector<ListedPort> ports = Rescan();
    EXPECT_EQ(static_cast<int>(ports.size()), before + 1);
    ASSERT_NE(Find(ports, 9), nullptr);
    EXPECT_EQ(Find(ports, 9)->text, L"Late9 (COM9)");
}

TEST_F(PortList, SerialPrefixedNamesAreTheSameFunctions) {
    ASSERT_TRUE(serialComm.Add(L"\\Device\\VCP0", L"COM7"));
    const int n = host.Export<PortCountFn>("Serial_GetPortCount")();
    EXPECT_EQ(n, count());
    const PortDescriptionFn serialDescription = host.Export<PortDescriptionFn>("Serial_GetPortDescription");
    const PortNumberFn serialNumber = host.Export<PortNumberFn>("Serial_GetPortNumber");
    for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(serialNumber(i), number(i));
        EXPECT_EQ(TakeText(serialDescription(i)), TakeText(description(i)));
    }
}
