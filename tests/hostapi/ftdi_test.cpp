// The FTDI device functions against the simulated Ftd2xx.dll with four
// devices, two of them sharing a description: finding by prefix versus
// opening by exact description, busy devices passed over, location IDs,
// the enumeration and description lists, the library version, the setters,
// and null handles.
#include <gtest/gtest.h>

#include "host_session.h"

namespace {

const long kLibraryVersion = 2 * 65536 + 8 * 256 + 14;

class FtdiDevices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FtdiSimReady()); }

    // A port handle with device index open on it, attached to a robot that
    // does not poll: the port the by-reference functions work on.
    PORT_HANDLE Carrier(unsigned long index) {
        return session.Keep(Api().AttachFTDIDeviceByIndex(session.robot(), index), PortKind::kFtdi);
    }
    static long long Query(int device, const char* name) {
        return FtdiSim::Get().Query("dev:" + std::to_string(device) + " " + name);
    }

    RobotSession session;
};

std::vector<std::wstring> Descriptions(std::initializer_list<int> indexes) {
    std::vector<std::wstring> out;
    for (int i : indexes) out.push_back(FtdiSim::Devices()[static_cast<size_t>(i)].description);
    return out;
}

} // namespace

TEST_F(FtdiDevices, FindMatchesAPrefixInAnyCaseWhileOpenWantsTheWholeDescription) {
    PORT_HANDLE carrier = Carrier(3);
    ASSERT_NE(carrier, nullptr);
    CFTDIPort& port = VornexFtdiPort(carrier);

    EXPECT_TRUE(FindFTDIDevice(port, L"vornex sim"));
    EXPECT_TRUE(FindFTDIDevice(port, L"VORNEX SIM TOOL"));
    EXPECT_TRUE(FindFTDIDevice(port, L"twin TOOL"));
    EXPECT_TRUE(FindFTDIDevice(port, L""));  // matches the first device
    EXPECT_FALSE(FindFTDIDevice(port, L"Vornex Sim Tool 2"));
    EXPECT_FALSE(FindFTDIDevice(port, L"Tool"));  // a prefix, not any part
    // Finding opens nothing and leaves the port's own device alone.
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(DeviceOpen(i)) << i;
    EXPECT_TRUE(DeviceOpen(3));

    // Another letter case or a prefix opens nothing; a failed open leaves
    // the port closed.
    EXPECT_FALSE(OpenFTDIDevice(port, L"vornex sim tool"));
    EXPECT_FALSE(DeviceOpen(3));
    EXPECT_EQ(Api().GetLocID(carrier), 0);
    EXPECT_FALSE(OpenFTDIDevice(port, L"Vornex Sim"));
    EXPECT_FALSE(Api().FtdiOpen(carrier, L"VORNEX SIM TOOL"));
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(DeviceOpen(i)) << i;

    // The exact description opens the device, ready for the link.
    EXPECT_TRUE(OpenFTDIDevice(port, L"Vornex Sim Tool"));
    EXPECT_TRUE(DeviceOpen(0));
    EXPECT_EQ(Api().GetLocID(carrier), 0x1011);
    EXPECT_EQ(Query(0, "devicerate"), 38400);
    EXPECT_EQ(Query(0, "format8n1"), 1);
    EXPECT_EQ(Query(0, "readtimeout"), 100);
    EXPECT_EQ(Query(0, "writetimeout"), 100);
    EXPECT_GE(Query(0, "resets"), 1);
    EXPECT_GE(Query(0, "purges"), 1);

    EXPECT_TRUE(CloseFTDIDevice(port));
    EXPECT_FALSE(DeviceOpen(0));
    EXPECT_EQ(Api().GetLocID(carrier), 0);

    // The plain name takes the port handle itself.
    EXPECT_TRUE(Api().FtdiOpen(carrier, L"Spare Tool"));
    EXPECT_TRUE(DeviceOpen(3));
    EXPECT_EQ(Api().GetLocID(carrier), 0x4044);
}

TEST_F(FtdiDevices, ABusyDeviceIsPassedOverForTheNextWithTheSameDescription) {
    ASSERT_NE(Carrier(1), nullptr);  // the first "Twin Tool", opened elsewhere
    RobotSession second;
    PORT_HANDLE twin = second.Keep(Api().AttachFTDIDevice(second.robot(), L"Twin Tool"), PortKind::kFtdi);
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(Api().GetLocID(twin), 0x3033);
    EXPECT_TRUE(DeviceOpen(2));
    // With both busy there is nothing left to open.
    RobotSession third;
    EXPECT_EQ(Api().AttachFTDIDevice(third.robot(), L"Twin Tool"), nullptr);
}

TEST_F(FtdiDevices, LocationIdIsTheLocationOpenedByAndZeroByIndex) {
    RobotSession byLocation;
    PORT_HANDLE located = byLocation.Keep(Api().AttachFTDIDeviceByLoc(byLocation.robot(), 0x2022), PortKind::kFtdi);
    ASSERT_NE(located, nullptr);
    EXPECT_EQ(Api().GetLocID(located), 0x2022);
    EXPECT_TRUE(DeviceOpen(1));

    PORT_HANDLE carrier = Carrier(3);
    ASSERT_NE(carrier, nullptr);
    EXPECT_EQ(Api().GetLocID(carrier), 0);
    CFTDIPort& port = VornexFtdiPort(carrier);
    EXPECT_TRUE(OpenFTDIDeviceByLoc(port, 0x1011));
    EXPECT_EQ(Api().GetLocID(carrier), 0x1011);
    EXPECT_FALSE(DeviceOpen(3));  // the port's earlier device was closed first
    EXPECT_TRUE(DeviceOpen(0));
    EXPECT_TRUE(OpenFTDIDeviceByIndex(port, 2));
    EXPECT_EQ(Api().GetLocID(carrier), 0);
    EXPECT_FALSE(DeviceOpen(0));
    EXPECT_TRUE(DeviceOpen(2));

    EXPECT_FALSE(OpenFTDIDeviceByLoc(port, 0xBAD0));
    EXPECT_FALSE(DeviceOpen(2));
    EXPECT_EQ(Api().GetLocID(carrier), 0);
    EXPECT_FALSE(OpenFTDIDeviceByIndex(port, 99));
    EXPECT_FALSE(OpenFTDIDeviceByLoc(port, 0x2022));  // busy
    EXPECT_EQ(Api().GetLocID(carrier), 0);
}

TEST_F(FtdiDevices, EnumerateListsEveryDeviceThatCanBeOpened) {
    HostArray descriptions(MakeByteVector({1})), comPorts(MakeByteVector({2})), indexes, locations, serials;
    EXPECT_EQ(Api().Enumerate(descriptions.out(), comPorts.out(), indexes.out(), locations.out(), serials.out()), 4);
    EXPECT_EQ(StringsOf(descriptions.get()), Descriptions({0, 1, 2, 3}));
    EXPECT_EQ(LongsOf(indexes.get()), (std::vector<long>{0, 1, 2, 3}));
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(DeviceOpen(i)) << i;  // each was closed again
}

TEST_F(FtdiDevices, EnumerateLeavesOutADeviceThatIsOpen) {
    ASSERT_NE(Carrier(1), nullptr);
    HostArray descriptions(MakeByteVector({1})), comPorts(MakeByteVector({2})), indexes(MakeByteVector({3})),
        locations(MakeByteVector({4})), serials(MakeByteVector({5}));
    EXPECT_EQ(Api().Enumerate(descriptions.out(), comPorts.out(), indexes.out(), locations.out(), serials.out()), 3);

    for (SAFEARRAY* array : {descriptions.get(), comPorts.get(), indexes.get(), locations.get(), serials.get()}) {
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(DimsOf(array), 1u);
        EXPECT_TRUE(LowerBoundsAreZero(array));
        EXPECT_EQ(CountOf(array, 1), 3);
    }
    EXPECT_EQ(TypeOf(descriptions.get()), VT_BSTR);
    EXPECT_EQ(TypeOf(serials.get()), VT_BSTR);
    EXPECT_EQ(TypeOf(comPorts.get()), VT_INT);
    EXPECT_EQ(TypeOf(indexes.get()), VT_INT);
    EXPECT_EQ(TypeOf(locations.get()), VT_INT);

    const auto& devices = FtdiSim::Devices();
    EXPECT_EQ(StringsOf(descriptions.get()), Descriptions({0, 2, 3}));
    EXPECT_EQ(StringsOf(serials.get()),
              (std::vector<std::wstring>{devices[0].serial, devices[2].serial, devices[3].serial}));
    EXPECT_EQ(LongsOf(comPorts.get()), (std::vector<long>{devices[0].com, devices[2].com, devices[3].com}));
    EXPECT_EQ(LongsOf(indexes.get()), (std::vector<long>{0, 2, 3}));
    EXPECT_EQ(LongsOf(locations.get()),
              (std::vector<long>{static_cast<long>(devices[0].location), static_cast<long>(devices[2].location),
                                 static_cast<long>(devices[3].location)}));
    EXPECT_TRUE(DeviceOpen(1));  // the open device was not disturbed
}

TEST_F(FtdiDevices, DeviceStringsListEveryDescription) {
    ASSERT_NE(Carrier(1), nullptr);  // listed although it is open
    HostArray descriptions(MakeByteVector({1, 2}));
    EXPECT_EQ(Api().GetDeviceStrings(descriptions.out()), 4);
    EXPECT_EQ(TypeOf(descriptions.get()), VT_BSTR);
    EXPECT_EQ(DimsOf(descriptions.get()), 1u);
    EXPECT_TRUE(LowerBoundsAreZero(descriptions.get()));
    EXPECT_EQ(StringsOf(descriptions.get()), Descriptions({0, 1, 2, 3}));
}

TEST_F(FtdiDevices, WithNoDevicesEnumerateEmptiesTheArraysAndDeviceStringsLeavesThemAlone) {
    ASSERT_TRUE(FtdiSim::Get().SetDevices(""));
    ASSERT_EQ(FtdiSim::Get().Query("devices"), 0);

    HostArray descriptions(MakeByteVector({1})), comPorts(MakeByteVector({2})), indexes(MakeByteVector({3})),
        locations(MakeByteVector({4})), serials(MakeByteVector({5}));
    EXPECT_EQ(Api().Enumerate(descriptions.out(), comPorts.out(), indexes.out(), locations.out(), serials.out()), 0);
    for (SAFEARRAY* array : {descriptions.get(), comPorts.get(), indexes.get(), locations.get(), serials.get()}) {
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(DimsOf(array), 1u);
        EXPECT_EQ(CountOf(array, 1), 0);
        EXPECT_TRUE(LowerBoundsAreZero(array));
    }
    EXPECT_EQ(TypeOf(descriptions.get()), VT_BSTR);
    EXPECT_EQ(TypeOf(serials.get()), VT_BSTR);
    EXPECT_EQ(TypeOf(indexes.get()), VT_INT);

    HostArray held(MakeByteVector({7, 8, 9}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(Api().GetDeviceStrings(held.out()), 0);
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(BytesOf(held.get()), (std::vector<uint8_t>{7, 8, 9}));

    RobotSession robot;
    EXPECT_EQ(Api().AttachFTDIDeviceByIndex(robot.robot(), 0), nullptr);
    EXPECT_EQ(Api().AttachFTDIDevice(robot.robot(), L"Vornex Sim Tool"), nullptr);
    ASSERT_TRUE(FtdiSim::Get().Reset());
}

TEST_F(FtdiDevices, LibraryVersionComesFromTheLibraryFile) {
    EXPECT_EQ(Api().GetLibraryVersion(), kLibraryVersion);
}

TEST_F(FtdiDevices, DriverStatusWithoutTheDriverService) {
    // No FTSER2K service exists here.
    EXPECT_EQ(Api().GetDriverStatus(), 0);
}

TEST_F(FtdiDevices, SettersAndResetsReachTheDevice) {
    PORT_HANDLE port = Carrier(3);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Api().SetBaud(port, 9600), 0u);
    EXPECT_EQ(Query(3, "devicerate"), 9600);
    EXPECT_EQ(Api().FtdiSetBaud(port, 19200), 0u);
    EXPECT_EQ(Query(3, "devicerate"), 19200);
    EXPECT_EQ(Api().SetLatency(port, 5), 0u);
    EXPECT_EQ(Query(3, "latency"), 5);
    EXPECT_EQ(Api().FtdiSetLatency(port, 7), 0u);
    EXPECT_EQ(Query(3, "latency"), 7);
    EXPECT_EQ(Api().SetUSBParameters(port, 8192, 1024), 0u);
    EXPECT_EQ(Query(3, "usbin"), 8192);
    EXPECT_EQ(Query(3, "usbout"), 1024);
    EXPECT_EQ(Api().FtdiSetUSBParameters(port, 4096, 2048), 0u);
    EXPECT_EQ(Query(3, "usbin"), 4096);
    EXPECT_EQ(Query(3, "usbout"), 2048);
    const long long resets = Query(3, "resets");
    EXPECT_EQ(Api().ResetDevice(port), 0);
    EXPECT_EQ(Query(3, "resets"), resets + 1);
    const long long cycles = Query(3, "cycles");
    EXPECT_EQ(Api().CyclePort(port), 0);
    EXPECT_EQ(Query(3, "cycles"), cycles + 1);

    // With its device closed the port passes the library's own status on.
    ASSERT_TRUE(CloseFTDIDevice(VornexFtdiPort(port)));
    EXPECT_NE(Api().SetBaud(port, 9600), 0u);
    EXPECT_NE(Api().ResetDevice(port), 0);
}

TEST(Ftdi, NullHandlesGiveZeroOrInvalidParameter) {
    EXPECT_EQ(Api().GetLocID(nullptr), 0);
    EXPECT_EQ(Api().ResetDevice(nullptr), 0);
    EXPECT_EQ(Api().CyclePort(nullptr), 0);
    EXPECT_EQ(Api().SetBaud(nullptr, 9600), 6u);
    EXPECT_EQ(Api().FtdiSetBaud(nullptr, 9600), 6u);
    EXPECT_EQ(Api().SetLatency(nullptr, 2), 6u);
    EXPECT_EQ(Api().FtdiSetLatency(nullptr, 2), 6u);
    EXPECT_EQ(Api().SetUSBParameters(nullptr, 4096, 4096), 6u);
    EXPECT_EQ(Api().FtdiSetUSBParameters(nullptr, 4096, 4096), 6u);
    EXPECT_EQ(Api().ResetToolRate(nullptr), 0);
}
