// The FTDI device functions against the simulated Ftd2xx.dll with four devices, two sharing a description.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/message_boxes.h"
#include "support/process.h"
#include "support/vornex_test.h"

using namespace vxt;

namespace {

long long Query(int device, const std::string& name) { return ftdi::Query("dev:" + std::to_string(device) + " " + name); }
bool Open(int device) { return Query(device, "open") == 1; }

class Ftdi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ftdi::Reset()); }
    void TearDown() override {
        for (auto& p : ports) ReleaseFTDIDevice(p.second);
        for (auto& p : ports) ROBOT_Destroy(p.first);
    }
    // A robot that does not poll, with a device attached: a carrier for the functions that take a port.
    PORT_HANDLE Carrier(unsigned long index, const wchar_t* description = nullptr) {
        ROBOT_HANDLE robot = ROBOT_Create();
        ports.emplace_back(robot, description ? ROBOT_AttachFTDIDevice(robot, description)
                                              : ROBOT_AttachFTDIDeviceByIndex(robot, index));
        return ports.back().second;
    }
    std::vector<std::pair<ROBOT_HANDLE, PORT_HANDLE>> ports;
};

const std::vector<std::wstring> kDescriptions = {L"Vornex Sim Tool", L"Twin Tool", L"Twin Tool", L"Spare Tool"};

}  // namespace

TEST_F(Ftdi, AttachByDescriptionLocationOrIndexOpensAt38400EightNOne) {
    struct Case { std::function<PORT_HANDLE(ROBOT_HANDLE)> attach; long location; };
    const Case cases[] = {
        {[](ROBOT_HANDLE r) { return ROBOT_AttachFTDIDevice(r, L"Vornex Sim Tool"); }, 0x1011},
        {[](ROBOT_HANDLE r) { return ROBOT_AttachFTDIDeviceByLoc(r, 0x1011); }, 0x1011},
        {[](ROBOT_HANDLE r) { return ROBOT_AttachFTDIDeviceByIndex(r, 0); }, 0},
    };
    for (const Case& c : cases) {
        ROBOT_HANDLE robot = ROBOT_Create();
        PORT_HANDLE port = c.attach(robot);
        ASSERT_NE(port, nullptr);
        EXPECT_TRUE(Open(0));
        EXPECT_EQ(FTDI_GetLocID(port), c.location);
        for (const auto& q : std::initializer_list<std::pair<const char*, long long>>{
                 {"devicerate", 38400}, {"format8n1", 1}, {"readtimeout", 100}, {"writetimeout", 100}})
            EXPECT_EQ(Query(0, q.first), q.second) << q.first;
        EXPECT_GE(Query(0, "purges"), 1);
        ROBOT_StartPolling(robot);
        Array reply;
        EXPECT_EQ(ROBOT_WaitReplyBytes(robot, ROBOT_SendCommand(robot, L"BE010203"), 5000, reply.out()), 12);
        ROBOT_StopPolling(robot);
        ROBOT_Destroy(robot);
        EXPECT_EQ(FTDI_Release(port), 1);
        EXPECT_FALSE(Open(0));
    }
}

TEST_F(Ftdi, SecondAttachLeavesTheFirstDeviceOpenUntilReleased) {
    PORT_HANDLE second = nullptr;
    {
        Rig rig(PortKind::Ftdi);  // device 0
        const long unread = rig.Send(L"BE01");
        ASSERT_GT(rig.Wait(unread), 0);
        ROBOT_StopPolling(rig.robot());
        ASSERT_NE(second = ROBOT_AttachFTDIDeviceByLoc(rig.robot(), 0x4044), nullptr);
        EXPECT_EQ(ROBOT_GetReply(rig.robot(), unread), nullptr);  // unread replies dropped
        EXPECT_TRUE(Open(0) && Open(3));
        ROBOT_StartPolling(rig.robot());
        EXPECT_FALSE(rig.RoundTrip(L"BE02").empty());
        EXPECT_EQ(Query(3, "commands"), 1);
    }  // destroys the robot, then releases the first device
    EXPECT_FALSE(Open(0));
    EXPECT_TRUE(Open(3));
    EXPECT_TRUE(ReleaseFTDIDevice(second));
}

TEST_F(Ftdi, FindMatchesAPrefixOpenWantsTheWholeDescriptionAndPassesBusyDevicesOver) {
    PORT_HANDLE carrier = Carrier(3);
    ASSERT_NE(carrier, nullptr);
    CFTDIPort& port = VornexFtdiPort(carrier);
    for (const wchar_t* name : {L"vornex sim", L"VORNEX SIM TOOL", L"twin TOOL", L""}) EXPECT_TRUE(FindFTDIDevice(port, name));
    for (const wchar_t* name : {L"Vornex Sim Tool 2", L"Tool"}) EXPECT_FALSE(FindFTDIDevice(port, name));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Open(i)) << i;  // finding opens nothing
    EXPECT_TRUE(Open(3));
    EXPECT_FALSE(OpenFTDIDevice(port, L"vornex sim tool"));
    EXPECT_FALSE(Open(3));  // a failed open leaves the port closed
    EXPECT_EQ(FTDI_GetLocID(carrier), 0);
    EXPECT_FALSE(OpenFTDIDevice(port, L"Vornex Sim"));
    EXPECT_FALSE(FTDI_Open(carrier, L"VORNEX SIM TOOL"));
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(Open(i)) << i;
    EXPECT_TRUE(OpenFTDIDevice(port, L"Vornex Sim Tool"));
    EXPECT_TRUE(Open(0));
    EXPECT_EQ(FTDI_GetLocID(carrier), 0x1011);
    EXPECT_GE(Query(0, "resets"), 1);
    EXPECT_TRUE(CloseFTDIDevice(port));
    EXPECT_FALSE(Open(0));
    EXPECT_EQ(FTDI_GetLocID(carrier), 0);
    EXPECT_TRUE(FTDI_Open(carrier, L"Spare Tool"));
    EXPECT_EQ(FTDI_GetLocID(carrier), 0x4044);
    // Busy devices are passed over; location IDs follow the open.
    ASSERT_NE(Carrier(1), nullptr);  // the first "Twin Tool"
    EXPECT_EQ(FTDI_GetLocID(Carrier(0, L"Twin Tool")), 0x3033);
    EXPECT_EQ(Carrier(0, L"Twin Tool"), nullptr);
    EXPECT_TRUE(OpenFTDIDeviceByLoc(port, 0x1011));
    EXPECT_EQ(FTDI_GetLocID(carrier), 0x1011);
    EXPECT_FALSE(Open(3));  // the earlier device was closed first
    EXPECT_TRUE(OpenFTDIDeviceByIndex(port, 0));
    EXPECT_EQ(FTDI_GetLocID(carrier), 0);
    EXPECT_FALSE(OpenFTDIDeviceByLoc(port, 0xBAD0));
    EXPECT_FALSE(OpenFTDIDeviceByIndex(port, 99));
    EXPECT_FALSE(OpenFTDIDeviceByLoc(port, 0x2022));  // busy
    EXPECT_EQ(FTDI_GetLocID(carrier), 0);
}

TEST_F(Ftdi, EnumerateListsEveryDeviceThatCanBeOpened) {
    Array descriptions(Bytes({1})), coms(Bytes({2})), indexes, locations, serials;
    EXPECT_EQ(FTDI_Enumerate(descriptions.out(), coms.out(), indexes.out(), locations.out(), serials.out()), 4);
    EXPECT_EQ(StringsOf(descriptions.get()), kDescriptions);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(Open(i)) << i;  // each closed again
    ASSERT_NE(Carrier(1), nullptr);
    EXPECT_EQ(FTDI_Enumerate(descriptions.out(), coms.out(), indexes.out(), locations.out(), serials.out()), 3);
    for (SAFEARRAY* a : {descriptions.get(), serials.get()}) EXPECT_EQ(Shape(a), "BSTR[0..2]");
    for (SAFEARRAY* a : {coms.get(), indexes.get(), locations.get()}) EXPECT_EQ(Shape(a), "INT[0..2]");
    EXPECT_EQ(StringsOf(descriptions.get()), (std::vector<std::wstring>{L"Vornex Sim Tool", L"Twin Tool", L"Spare Tool"}));
    EXPECT_EQ(StringsOf(serials.get()), (std::vector<std::wstring>{L"VXS00001", L"VXS00003", L"VXS00004"}));
    EXPECT_EQ(LongsOf(coms.get()), (std::vector<long>{9, 11, -1}));
    EXPECT_EQ(LongsOf(indexes.get()), (std::vector<long>{0, 2, 3}));
    EXPECT_EQ(LongsOf(locations.get()), (std::vector<long>{0x1011, 0x3033, 0x4044}));
    EXPECT_TRUE(Open(1));  // the open one was not disturbed
    Array strings(Bytes({1, 2}));
    EXPECT_EQ(FTDI_GetDeviceStrings(strings.out()), 4);  // lists the open one too
    EXPECT_EQ(Shape(strings.get()), "BSTR[0..3]");
    EXPECT_EQ(StringsOf(strings.get()), kDescriptions);
    EXPECT_EQ(FTDI_GetLibraryVersion(), 2 * 65536 + 8 * 256 + 14);
}

TEST_F(Ftdi, NoDevicesEmptyTheListsAndMoreThanTenOverrunNoBuffer) {
    ASSERT_EQ(ftdi::Control("devices "), 0);
    Array descriptions(Bytes({1})), coms(Bytes({2})), indexes(Bytes({3})), locations(Bytes({4})), serials(Bytes({5}));
    EXPECT_EQ(FTDI_Enumerate(descriptions.out(), coms.out(), indexes.out(), locations.out(), serials.out()), 0);
    for (SAFEARRAY* a : {descriptions.get(), serials.get()}) EXPECT_EQ(Shape(a), "BSTR[0..-1]");
    for (SAFEARRAY* a : {coms.get(), indexes.get(), locations.get()}) EXPECT_EQ(Shape(a), "INT[0..-1]");
    Array held(Bytes({7, 8, 9}));
    SAFEARRAY* const heldArray = held.get();
    EXPECT_EQ(FTDI_GetDeviceStrings(held.out()), 0);
    EXPECT_EQ(held.get(), heldArray);
    EXPECT_EQ(Carrier(0), nullptr);
    // More than ten devices overrun no description buffer.
    std::string lines;
    std::vector<std::wstring> names;
    for (int i = 0; i < 12; ++i) {
        lines += "device description=\"Tool " + std::to_string(100 + i) + "\" serial=S" + std::to_string(i) +
                 " location=0x" + std::to_string(5000 + i) + " com=none|";
        names.push_back(L"Tool " + std::to_wstring(100 + i));
    }
    ASSERT_EQ(ftdi::Control("devices " + lines), 0);
    ASSERT_EQ(ftdi::Query("devices"), 12);
    Array strings;
    EXPECT_EQ(FTDI_GetDeviceStrings(strings.out()), 10);  // the header promises at most ten
    EXPECT_EQ(StringsOf(strings.get()), std::vector<std::wstring>(names.begin(), names.begin() + 10));
    PORT_HANDLE carrier = Carrier(11);
    ASSERT_NE(carrier, nullptr);
    EXPECT_TRUE(FindFTDIDevice(VornexFtdiPort(carrier), L"Tool 100"));
    FindFTDIDevice(VornexFtdiPort(carrier), L"Tool 111");  // either answer, no overrun
    EXPECT_EQ(FTDI_Enumerate(descriptions.out(), coms.out(), indexes.out(), locations.out(), serials.out()), 11);
}

TEST_F(Ftdi, SettersAndResetsReachTheDevice) {
    PORT_HANDLE port = Carrier(3);
    ASSERT_NE(port, nullptr);
    struct Case { unsigned long (__stdcall* set)(PORT_HANDLE, unsigned long); unsigned long value; const char* query; };
    const Case cases[] = {{SetFTDIBaud, 9600, "devicerate"}, {FTDI_SetBaud, 19200, "devicerate"},
                          {SetFTDILatency, 5, "latency"}, {FTDI_SetLatency, 7, "latency"}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.set(port, c.value), 0u);
        EXPECT_EQ(Query(3, c.query), static_cast<long long>(c.value));
    }
    EXPECT_EQ(SetFTDIUSBParameters(port, 8192, 1024), 0u);
    EXPECT_EQ(std::make_pair(Query(3, "usbin"), Query(3, "usbout")), std::make_pair(8192LL, 1024LL));
    EXPECT_EQ(FTDI_SetUSBParameters(port, 4096, 2048), 0u);
    EXPECT_EQ(std::make_pair(Query(3, "usbin"), Query(3, "usbout")), std::make_pair(4096LL, 2048LL));
    const long long resets = Query(3, "resets"), cycles = Query(3, "cycles");
    EXPECT_EQ(FTDI_ResetDevice(port), 0);
    EXPECT_EQ(Query(3, "resets"), resets + 1);
    EXPECT_EQ(FTDI_CyclePort(port), 0);
    EXPECT_EQ(Query(3, "cycles"), cycles + 1);
    ASSERT_TRUE(CloseFTDIDevice(VornexFtdiPort(port)));  // the library's own status passes on
    EXPECT_NE(SetFTDIBaud(port, 9600), 0u);
    EXPECT_NE(FTDI_ResetDevice(port), 0);
}

// Without Ftd2xx.dll: this program run again for this test alone, where nothing puts the simulated library on
// the search path.
TEST(NoFtdiLibrary, EveryFtdiExportFailsWithItsBoxesAndLeavesTheArraysAlone) {
    if (!GetEnvironmentVariableA("VX_NO_FTDI_LIBRARY", nullptr, 0)) {
        vxproc::ScopedEnv child(L"VX_NO_FTDI_LIBRARY", L"1");
        const vxproc::Result run = vxproc::Run(L"api_test.exe", L"--gtest_filter=NoFtdiLibrary.*", 60000);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        return;
    }
    ASSERT_EQ(GetModuleHandleW(L"Ftd2xx.dll"), nullptr);
    MessageBoxes boxes;
    const std::wstring cannotLoad = L"Error: Can't Load ftd2xx.dll";
    const std::vector<std::wstring> listing = {cannotLoad, L"FT_ListDevices is not valid!"};
    Array held[5] = {Array(Bytes({1})), Array(Bytes({2})), Array(Bytes({3})), Array(Bytes({4})), Array(Bytes({5}))};
    SAFEARRAY* const before[5] = {held[0].get(), held[1].get(), held[2].get(), held[3].get(), held[4].get()};
    EXPECT_EQ(FTDI_Enumerate(held[0].out(), held[1].out(), held[2].out(), held[3].out(), held[4].out()), 0);
    EXPECT_EQ(boxes.Take(), listing);
    EXPECT_EQ(FTDI_GetDeviceStrings(held[0].out()), 0);
    EXPECT_EQ(boxes.Take(), listing);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(held[i].get() == before[i] && BytesOf(held[i].get()) == std::vector<uint8_t>{uint8_t(i + 1)}) << i;
    EXPECT_EQ(FTDI_GetLibraryVersion(), 0);
    EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{cannotLoad});
    ROBOT_HANDLE robot = ROBOT_Create();
    EXPECT_EQ(ROBOT_AttachFTDIDevice(robot, L"Vornex Sim Tool"), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByLoc(robot, 0x1011), nullptr);
    EXPECT_EQ(ROBOT_AttachFTDIDeviceByIndex(robot, 0), nullptr);
    const std::vector<std::wstring> shown = boxes.Take();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), cannotLoad), 3);
    ROBOT_Destroy(robot);
    EXPECT_TRUE(boxes.Take().empty());
}
