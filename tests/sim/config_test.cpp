// The device list file of the simulated D2XX library.
#include <gtest/gtest.h>

#include "sim/device_config.h"

using vxsim::DeviceConfig;
using vxsim::ParseDeviceConfig;

TEST(DeviceConfig, ReadsDevicesWithQuotedValuesCommentsAndDefaults) {
    const std::string text =
        "# two tools\n"
        "device description=\"Tool A #1\" serial=A1 location=0x2101 com=7 pacing=on\n"
        "\n"
        "device com=none faults=\"be4d:droppage=1#1 be09:noreply\" random=42 chances=\"delay=0.5/100\" "
        "triple=1 settle=50 toolinfo=9ABCVX.Y12 present=off   # unplugged\r\n";
    std::vector<DeviceConfig> devices;
    std::string error;
    int line = -1;
    ASSERT_TRUE(ParseDeviceConfig(text, devices, error, line)) << error;
    ASSERT_EQ(2u, devices.size());
    EXPECT_EQ("Tool A #1", devices[0].description);
    EXPECT_EQ("A1", devices[0].serial);
    EXPECT_EQ(0x2101u, devices[0].location);
    EXPECT_EQ(7, devices[0].comPort);
    EXPECT_TRUE(devices[0].pacing);
    EXPECT_EQ(-1, devices[1].comPort);
    EXPECT_EQ("be4d:droppage=1#1 be09:noreply", devices[1].faults);
    EXPECT_TRUE(devices[1].random);
    EXPECT_EQ(42u, devices[1].randomSeed);
    EXPECT_TRUE(devices[1].triple);
    EXPECT_EQ(50u, devices[1].settleMs);
    EXPECT_EQ("9ABCVX.Y12", devices[1].toolInfo);
    EXPECT_FALSE(devices[1].present);
    // Unconfigured fields keep devices apart.
    EXPECT_NE(devices[0].serial, devices[1].serial);
    EXPECT_EQ(0x1012u, devices[1].location);
}

TEST(DeviceConfig, NamesTheLineOfTheFirstError) {
    const char* const bad[] = {
        "device\ndevice colour=red\n",
        "device\ndevice location=banana\n",
        "device\ndevice description=\"open\n",
        "device\ntool description=x\n",
        "device\ndevice faults=be4d:nonsense\n",
        "device\ndevice com=0\n",
        "device\ndevice serial=0123456789abcdefXYZ\n",
        "device\ndevice toolinfo=short\n",
        "device\ndevice pacing\n",
    };
    for (const char* text : bad) {
        std::vector<DeviceConfig> devices;
        std::string error;
        int line = 0;
        EXPECT_FALSE(ParseDeviceConfig(text, devices, error, line)) << text;
        EXPECT_EQ(2, line) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(1u, devices.size()) << text;
    }
}
