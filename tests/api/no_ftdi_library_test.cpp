// The FTDI exports without Ftd2xx.dll: this program run again for this test alone, where nothing puts the
// simulated library on the search path.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/message_boxes.h"
#include "support/process.h"
#include "support/vornex_test.h"

using namespace vxt;

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
