#pragma once
// When each byte of the tool's output reaches the host. Chunks follow one
// another: a chunk starts after the previous one has gone plus its own delay.
// With pacing, a chunk's bytes leave one by one at its link rate (10 bits
// per byte); without, all at once.
//
// On a line with a device rate (FTDI), the first chunk after the tool changed
// its rate is held until the device has been switched to it, for at most the
// settle time; this stands for the pause a tool makes after changing its own
// rate, and keeps the hand-over free of timing races. Frontends without a
// device rate (TCP, COM) never hold.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/output_chunk.h"

namespace vxsim {

struct WirePiece {
    std::vector<uint8_t> bytes;
    uint32_t rate = kBaseRate;
};

struct WireStep {
    std::vector<WirePiece> pieces;
    uint32_t framesEnded = 0;
};

class WireSchedule {
public:
    static constexpr int64_t kNever = INT64_MAX;
    static constexpr uint32_t kDefaultSettleMs = 200;

    void SetPacing(bool on) { m_pacing = on; }
    // The device rate, from nowUs on; 0: no device rate (never hold).
    void SetLineRate(uint32_t rate, int64_t nowUs);

    // Queues chunks that may start no earlier than baseUs.
    void Push(const ChunkList& chunks, int64_t baseUs);
    // Takes everything due by nowUs.
    void Take(int64_t nowUs, WireStep& step);
    // When the next byte is due (kNever when nothing is queued).
    int64_t NextDueUs() const;

    void Clear();

private:
    struct Pending {
        OutputChunk chunk;
        int64_t baseUs = 0;
        bool started = false;
        int64_t startUs = 0;
        size_t sent = 0;
    };
    int64_t StartOf(const Pending& p) const;
    int64_t ByteDueUs(const Pending& p, int64_t startUs, size_t index) const;

    std::deque<Pending> m_queue;
    bool m_pacing = false;
    int64_t m_settleUs = static_cast<int64_t>(kDefaultSettleMs) * 1000;
    uint32_t m_lineRate = 0;
    int64_t m_lineRateSinceUs = 0;
    int64_t m_lastEndUs = 0;
    uint32_t m_lastRate = kBaseRate;  // rate of the last chunk that began
};

// Microseconds one byte takes at rate (10 bits a byte), at least 1.
int64_t ByteTimeUs(uint32_t rate);

} // namespace vxsim
