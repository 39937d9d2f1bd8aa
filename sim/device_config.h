#pragma once
// The devices the simulated D2XX library offers, read from a small text
// file: one line per device, "device" followed by key=value pairs (a value
// with blanks in double quotes); '#' starts a comment. Example:
//   device description="Vornex Sim Tool" serial=VXS00001 location=0x1011 com=9
//   device description="Second Tool" serial=VXS00002 location=0x1012 com=none faults="be4d:droppage=1#1"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vxsim {

struct DeviceConfig {
    std::string description = "Vornex Sim Tool";
    std::string serial = "VXS00001";
    uint32_t location = 0x1011;
    int32_t comPort = 9;          // -1: no COM port
    std::string faults;           // fault rules (see fault_plan.h)
    bool random = false;
    uint64_t randomSeed = 1;
    std::string chances;          // random-mode chances
    bool pacing = false;
    bool triple = false;
    uint32_t settleMs = 200;
    std::string toolInfo;         // empty: the tool's default text
    bool present = true;          // false: starts unplugged
    uint64_t seed = 1;            // garbage and garbling sequences
};

// Parses the whole file text. On an error, devices parsed so far stay in out,
// error says why and errorLine is the 1-based line.
bool ParseDeviceConfig(const std::string& text, std::vector<DeviceConfig>& out, std::string& error, int& errorLine);

// Applies one key=value to a device; false with a reason for an unknown key
// or a bad value.
bool SetDeviceKey(DeviceConfig& device, const std::string& key, const std::string& value, std::string& error);

} // namespace vxsim
