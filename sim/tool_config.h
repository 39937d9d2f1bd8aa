#pragma once
// How a simulated tool, its line and its faults are set up: one struct, and
// one text form of it that every way of reaching the tool reads (vornex-sim's
// arguments, SIM_Control and the device file of the simulated Ftd2xx.dll,
// SimServer::Configure in test programs).
//
// Text: settings "key=value" separated by blanks, a value with blanks in
// double quotes; a word starting with '#' ends the text (a comment). A text
// whose first word has no '=' is one setting, "key value": the rest of the
// text is the value ("fault be4d:noreply#1", "pacing on").
#include <cstdint>
#include <string>
#include <vector>

namespace vxsim {

struct ToolConfig {
    // The tool.
    std::vector<std::string> faults;  // fault=RULES (fault_plan.h), added in order
    bool random = false;              // random="SEED [KIND=P[/MAX] ...]"
    uint64_t randomSeed = 0;
    std::string chances;
    std::string toolInfo = "9.1.V1.0.0";  // toolinfo=TEXT
    bool triple = false;                  // triple=on|off
    uint32_t replyDelayMs = 0;            // delay=MS: before every answer
    // The line.
    bool pacing = false;      // pacing=on|off: bytes no faster than the line rate
    uint32_t lineRate = 0;    // rate=R: TCP/COM, answers paced at R whatever the requests ask
    bool txStuck = false;     // txstuck=on|off: FTDI, the transmit queue never drains
    // An FTDI device.
    std::string description = "Vornex Sim Tool";  // description=TEXT (up to 63)
    std::string serial = "VXS00001";              // serial=TEXT (up to 15)
    uint32_t location = 0x1011;                   // location=N
    int32_t comPort = 9;                          // com=N|none (-1)
    uint64_t seed = 1;                            // garbage and garbling (per device)
};

extern const char* const kToolConfigHelp;

// Reads the settings of text on top of config. On an error config is left
// as it was and error (when given) says why.
bool ParseToolConfig(const std::string& text, ToolConfig& config, std::string* error = nullptr);

// The device file of the simulated Ftd2xx.dll: one line per device, the word
// "device" and its settings. Devices without a serial, location or seed get
// ones of their own. On an error errorLine is the 1-based line.
bool ParseDeviceList(const std::string& text, std::vector<ToolConfig>& out, std::string& error, int& errorLine);

} // namespace vxsim
