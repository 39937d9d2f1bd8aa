#pragma once
// One FTDI device with the tool behind it, as plain logic: the transmit
// queue that drains towards the tool, the tool's output on its way back, the
// receive queue the host reads, and the UART settings of the device. Bytes
// that cross the line while the device and the tool disagree on the rate (or
// the device is not set to 8N1) arrive as garbage on the other side. Times
// are microseconds from the caller's clock; the caller serialises access.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/tool_model.h"
#include "sim/wire_schedule.h"

namespace vxsim {

struct LineEvents {
    size_t received = 0;   // bytes added to the receive queue
};

struct LineCounters {
    uint64_t written = 0;          // bytes the host handed to the device
    uint64_t garbledToHost = 0;
    uint64_t garbledToTool = 0;
    uint64_t framesDelivered = 0;  // reply frames that reached the receive queue
};

class FtdiLine {
public:
    static constexpr size_t kTransmitCapacity = 65536;
    static constexpr size_t kReceiveCapacity = 1 << 20;

    explicit FtdiLine(uint64_t seed = 1, int64_t nowUs = 0);

    ToolModel& Tool() { return m_tool; }
    const ToolModel& Tool() const { return m_tool; }

    // Host side. Write queues what fits and returns that count.
    size_t Write(const uint8_t* data, size_t count, int64_t nowUs, LineEvents& ev);
    void Advance(int64_t nowUs, LineEvents& ev);
    size_t ReceiveCount() const { return m_rx.size(); }
    size_t TransmitCount() const { return m_tx.size(); }
    size_t Read(uint8_t* out, size_t count);
    void Purge(bool receive, bool transmit, int64_t nowUs, LineEvents& ev);
    // Bytes due before the change still go at the old rate.
    void SetBaudRate(uint32_t rate, int64_t nowUs, LineEvents& ev);
    uint32_t BaudRate() const { return m_rate; }
    void SetFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity, int64_t nowUs, LineEvents& ev);
    bool Is8N1() const { return m_wordLength == 8 && m_stopBits == 0 && m_parity == 0; }

    // The tool's settings and the line's: pacing, a transmit queue that
    // never drains (as on a stalled device).
    void Configure(const ToolConfig& config);

    // The device lost its connection: everything in flight is gone.
    void Drop();
    // When Advance next has something to do (WireSchedule::kNever if nothing).
    int64_t NextEventUs() const;

    const LineCounters& Counters() const { return m_counters; }
    const std::vector<uint8_t>& WrittenBytes() const { return m_writtenLog; }
    void ClearWrittenBytes() { m_writtenLog.clear(); }

private:
    struct TxByte {
        uint8_t value;
        int64_t dueUs;
    };
    uint8_t Garble(uint8_t b);

    ToolModel m_tool;
    WireSchedule m_schedule;
    std::deque<TxByte> m_tx;
    std::deque<uint8_t> m_rx;
    int64_t m_txEndUs = 0;
    uint32_t m_rate = kBaseRate;
    uint8_t m_wordLength = 8;
    uint8_t m_stopBits = 0;
    uint8_t m_parity = 0;
    bool m_pacing = false;
    bool m_txStuck = false;
    uint32_t m_garbleState = 0x1234567u;
    LineCounters m_counters;
    std::vector<uint8_t> m_writtenLog;
};

} // namespace vxsim
