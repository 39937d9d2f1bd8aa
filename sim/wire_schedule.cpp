#include "sim/wire_schedule.h"

#include <algorithm>

namespace vxsim {

int64_t ByteTimeUs(uint32_t rate) {
    if (rate == 0) return 1;
    return std::max<int64_t>(1, (10000000LL + rate - 1) / rate);
}

void WireSchedule::SetLineRate(uint32_t rate, int64_t nowUs) {
    if (rate != m_lineRate) {
        m_lineRate = rate;
        m_lineRateSinceUs = nowUs;
    }
}

void WireSchedule::Push(const ChunkList& chunks, int64_t baseUs) {
    // A reply after silence is a new stream: it waits for the device to be
    // at its rate even when the last reply went at that rate too, since the
    // host switches the device back to the base rate between requests.
    if (m_queue.empty()) m_lastRate = 0;
    for (const OutputChunk& c : chunks) {
        Pending p;
        p.chunk = c;
        p.baseUs = baseUs;
        m_queue.push_back(std::move(p));
    }
}

void WireSchedule::Clear() {
    m_queue.clear();
}

int64_t WireSchedule::StartOf(const Pending& p) const {
    if (p.started) return p.startUs;
    const int64_t ready = std::max(p.baseUs, m_lastEndUs) + static_cast<int64_t>(p.chunk.delayMs) * 1000;
    if (m_lineRate == 0) return ready;
    // A device switched to this rate only after the chunk was ready releases
    // it then.
    if (p.chunk.rate == m_lineRate) return std::max(ready, m_lineRateSinceUs);
    // Only the first chunk after the tool changed its rate waits; the rest of
    // a stream follows it at once, right or wrong.
    return p.chunk.rate != m_lastRate ? ready + m_settleUs : ready;
}

int64_t WireSchedule::ByteDueUs(const Pending& p, int64_t startUs, size_t index) const {
    if (!m_pacing) return startUs;
    // From the chunk's start rather than byte by byte: a whole microsecond a
    // byte would make 230400 baud about 1.4 % slower than the wire.
    const int64_t bits = static_cast<int64_t>(index + 1) * 10;
    if (p.chunk.rate == 0) return startUs + bits / 10;
    return startUs + (bits * 1000000 + p.chunk.rate - 1) / p.chunk.rate;
}

int64_t WireSchedule::NextDueUs() const {
    if (m_queue.empty()) return kNever;
    const Pending& head = m_queue.front();
    const int64_t start = StartOf(head);
    if (head.chunk.bytes.empty()) return start;
    return ByteDueUs(head, start, head.sent);
}

void WireSchedule::Take(int64_t nowUs, WireStep& step) {
    while (!m_queue.empty()) {
        Pending& head = m_queue.front();
        const int64_t start = StartOf(head);
        if (start > nowUs) return;
        if (!head.started) {
            head.started = true;
            head.startUs = start;
            m_lastRate = head.chunk.rate;
        }
        const size_t total = head.chunk.bytes.size();
        size_t upTo = head.sent;
        while (upTo < total && ByteDueUs(head, start, upTo) <= nowUs) ++upTo;
        if (upTo > head.sent) {
            if (step.pieces.empty() || step.pieces.back().rate != head.chunk.rate) {
                WirePiece piece;
                piece.rate = head.chunk.rate;
                step.pieces.push_back(piece);
            }
            std::vector<uint8_t>& dst = step.pieces.back().bytes;
            dst.insert(dst.end(), head.chunk.bytes.begin() + static_cast<std::ptrdiff_t>(head.sent),
                       head.chunk.bytes.begin() + static_cast<std::ptrdiff_t>(upTo));
            head.sent = upTo;
        }
        if (head.sent < total) return;
        m_lastEndUs = total ? ByteDueUs(head, start, total - 1) : start;
        step.framesEnded += head.chunk.framesEnded;
        m_queue.pop_front();
    }
}

} // namespace vxsim
