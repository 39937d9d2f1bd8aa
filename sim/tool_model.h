#pragma once
// The measuring tool as the library sees it from the other end of the link:
// it takes the bytes the host sends and says what it answers, as timed chunks
// for a frontend to pace, split and delay. No I/O, no clock of its own: the
// caller passes the time the bytes arrived.
//
// Commands (payload bytes):
//   BE 09 ..             tool information: the unframed 10-byte text
//   BE 4D p0..p3 n r     page read: n page frames (rate code in r, bit 7 of r
//                        asks for the sum check); the addressed form carries
//                        5 address bytes and 00 before the page number
//   BE 71                keep-alive: no answer
//   BE 2B ..             rate reset: back to 38400, no answer
//   BE 2C c ..           rate change to the rate of code c (1..5): an
//                        acknowledgement frame at the new rate
//   anything else        a frame that echoes the payload
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/command_scanner.h"
#include "sim/fault_plan.h"
#include "sim/output_chunk.h"
#include "sim/tool_config.h"

namespace vxsim {

// Rate of a page-read rate code 1..5; 0 for any other code.
uint32_t RateOfCode(uint32_t code);

struct ToolCounters {
    uint64_t bytesReceived = 0;
    uint64_t commands = 0;        // good command frames taken
    uint64_t badCrcFrames = 0;    // frames ignored for a wrong CRC
    uint64_t framesQueued = 0;    // reply frames (and tool-info texts) produced
    uint64_t pagesQueued = 0;
};

class ToolModel {
public:
    static constexpr size_t kCommandHistory = 4096;

    explicit ToolModel(uint64_t seed = 1);

    // Bytes from the host, arrived at nowMs; what the tool answers is appended to out.
    void Receive(const uint8_t* data, size_t count, int64_t nowMs, ChunkList& out);

    // The rate the tool listens at now.
    uint32_t Rate() const { return m_rate; }
    void SetRate(uint32_t rate) { m_rate = rate; }

    // Takes the tool's settings of config. Fault rules already in force stay
    // as they are (with what they have fired) when config only adds to them.
    void Configure(const ToolConfig& config);
    const ToolConfig& Config() const { return m_config; }
    FaultPlan& Faults() { return m_faults; }
    const FaultPlan& Faults() const { return m_faults; }

    // Drops a partly received command (link lost, device reset).
    void ClearInput() { m_scanner.Reset(); }

    ToolCounters Counters() const;
    // Payloads of the last commands taken, oldest first.
    const std::deque<std::vector<uint8_t>>& Commands() const { return m_commands; }
    void ClearCommands() { m_commands.clear(); }

private:
    struct Reply {
        std::vector<uint8_t> bytes;
        bool framed = true;
    };
    void Handle(const CommandFrame& frame, ChunkList& out);
    void Emit(std::vector<Reply>& replies, uint32_t rate, const AppliedFaults& faults, ChunkList& out);
    void Corrupt(Reply& reply);
    std::vector<uint8_t> Garbage(uint32_t count);

    CommandScanner m_scanner;
    FaultPlan m_faults;
    ToolConfig m_config;
    uint32_t m_rate = kBaseRate;
    ToolCounters m_counters;
    std::deque<std::vector<uint8_t>> m_commands;
};

} // namespace vxsim
