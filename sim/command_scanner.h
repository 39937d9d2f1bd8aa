#pragma once
// The tool's receiver: finds command frames in whatever the host sends
// (the 0xA5 preamble of tool-info requests, garbage from a wrong line rate,
// partial frames), checks each one and hands on only good ones.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxsim {

struct CommandFrame {
    bool addressed = false;         // bit 0 of header byte 2
    std::vector<uint8_t> payload;   // bytes 4 .. 2N-1
};

class CommandScanner {
public:
    // A partial frame older than this is given up, as a tool's receive
    // timeout would, so that a stray start marker cannot swallow later frames.
    static constexpr int64_t kStaleFrameMs = 500;

    // Appends bytes that arrived at nowMs and moves every complete good frame
    // to out. Frames with a bad CRC or a missing end marker are counted and
    // dropped.
    void Feed(const uint8_t* data, size_t count, int64_t nowMs, std::vector<CommandFrame>& out);
    void Reset();

    uint64_t BadCrcFrames() const { return m_badCrc; }
    size_t Held() const { return m_buffer.size(); }

private:
    void Scan(std::vector<CommandFrame>& out);

    std::vector<uint8_t> m_buffer;
    int64_t m_lastByteMs = 0;
    uint64_t m_badCrc = 0;
};

} // namespace vxsim
