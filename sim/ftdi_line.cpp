#include "sim/ftdi_line.h"

#include <algorithm>

namespace vxsim {

namespace {
constexpr size_t kWrittenLogLimit = 4 << 20;
}

FtdiLine::FtdiLine(uint64_t seed, int64_t nowUs) : m_tool(seed) {
    m_schedule.SetLineRate(m_rate, nowUs);
}

uint8_t FtdiLine::Garble(uint8_t b) {
    // What a UART makes of a byte sent at another rate: framing errors and
    // wrong bits. Never a start byte, so garbage cannot open a frame.
    m_garbleState = m_garbleState * 1103515245u + 12345u;
    uint8_t g = static_cast<uint8_t>((m_garbleState >> 16) ^ (b * 0x3Bu));
    if (g == 0xA5) g = 0xA4;
    return g;
}

void FtdiLine::Configure(const ToolConfig& config) {
    m_tool.Configure(config);
    m_pacing = config.pacing;
    m_schedule.SetPacing(config.pacing);
    m_txStuck = config.txStuck;
}

size_t FtdiLine::Write(const uint8_t* data, size_t count, int64_t nowUs, LineEvents& ev) {
    Advance(nowUs, ev);
    if (data == nullptr) count = 0;
    const size_t room = kTransmitCapacity - std::min(kTransmitCapacity, m_tx.size());
    const size_t n = std::min(count, room);
    int64_t t = std::max(nowUs, m_txEndUs);
    for (size_t i = 0; i < n; ++i) {
        if (m_pacing) t += ByteTimeUs(m_rate);
        m_tx.push_back(TxByte{data[i], t});
    }
    m_txEndUs = t;
    m_counters.written += n;
    if (m_writtenLog.size() + n <= kWrittenLogLimit) m_writtenLog.insert(m_writtenLog.end(), data, data + n);
    Advance(nowUs, ev);
    return n;
}

void FtdiLine::Advance(int64_t nowUs, LineEvents& ev) {
    // Towards the tool: each byte at the device's rate; the tool reads it at its own.
    while (!m_txStuck && !m_tx.empty() && m_tx.front().dueUs <= nowUs) {
        const TxByte b = m_tx.front();
        m_tx.pop_front();
        uint8_t value = b.value;
        if (m_rate != m_tool.Rate() || !Is8N1()) {
            value = Garble(value);
            ++m_counters.garbledToTool;
        }
        ChunkList reply;
        const size_t before = m_tool.Counters().commands;
        m_tool.Receive(&value, 1, b.dueUs / 1000, reply);
        // As behind TCP and COM: a new command drops a reply still held back.
        if (m_tool.Counters().commands != before) m_schedule.Clear();
        if (!reply.empty()) m_schedule.Push(reply, b.dueUs);
    }
    // Back to the host.
    WireStep step;
    m_schedule.Take(nowUs, step);
    for (const WirePiece& piece : step.pieces) {
        const bool garbled = piece.rate != m_rate || !Is8N1();
        for (uint8_t v : piece.bytes) {
            if (m_rx.size() >= kReceiveCapacity) break;  // overrun: the byte is lost
            m_rx.push_back(garbled ? Garble(v) : v);
            ++ev.received;
            if (garbled) ++m_counters.garbledToHost;
        }
    }
    m_counters.framesDelivered += step.framesEnded;
}

size_t FtdiLine::Read(uint8_t* out, size_t count) {
    const size_t n = std::min(count, m_rx.size());
    if (out == nullptr) return 0;
    std::copy(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(n), out);
    m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void FtdiLine::Purge(bool receive, bool transmit, int64_t nowUs, LineEvents& ev) {
    Advance(nowUs, ev);
    if (receive) m_rx.clear();
    if (transmit) {
        m_tx.clear();
        m_txEndUs = nowUs;
    }
}

void FtdiLine::SetBaudRate(uint32_t rate, int64_t nowUs, LineEvents& ev) {
    Advance(nowUs, ev);
    m_rate = rate;
    m_schedule.SetLineRate(rate, nowUs);
}

void FtdiLine::SetFormat(uint8_t wordLength, uint8_t stopBits, uint8_t parity, int64_t nowUs, LineEvents& ev) {
    Advance(nowUs, ev);
    m_wordLength = wordLength;
    m_stopBits = stopBits;
    m_parity = parity;
}

void FtdiLine::Drop() {
    m_tx.clear();
    m_rx.clear();
    m_schedule.Clear();
    m_tool.ClearInput();
}

int64_t FtdiLine::NextEventUs() const {
    int64_t next = m_schedule.NextDueUs();
    if (!m_txStuck && !m_tx.empty()) next = std::min(next, m_tx.front().dueUs);
    return next;
}

} // namespace vxsim
