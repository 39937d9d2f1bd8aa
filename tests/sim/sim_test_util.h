#pragma once
// Helpers shared by the simulator tests: frames as the library builds them,
// and checks of what comes back.
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "protocol/command_frame.h"
#include "protocol/crc16.h"
#include "sim/output_chunk.h"
#include "sim/page_pattern.h"
#include "sim/reply_frames.h"

namespace simtest {

typedef std::vector<uint8_t> Bytes;

inline Bytes Frame(const wchar_t* text, bool addressed = false) {
    return EncodeCommand(text, std::wcslen(text), addressed, false);
}

// The 96 bytes written before a tool-info request.
inline Bytes Preamble() {
    Bytes p(95, 0xA5);
    p.push_back(0x00);
    return p;
}

inline Bytes Concat(const vxsim::ChunkList& chunks) {
    Bytes all;
    for (const vxsim::OutputChunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

inline uint16_t CheckField(const uint8_t* frame, size_t size) {
    return static_cast<uint16_t>((frame[size - 4] << 8) | frame[size - 3]);
}

inline bool CrcGood(const uint8_t* frame, size_t size) {
    return size >= 8 && CheckField(frame, size) == CCrc16::Of(frame, size - 4);
}

inline bool SumGood(const uint8_t* frame, size_t size) {
    return size >= 8 && CheckField(frame, size) == vxsim::ByteSum16(frame, size - 4);
}

inline uint32_t PageNumber(const uint8_t* frame) {
    return static_cast<uint32_t>(frame[6]) | (static_cast<uint32_t>(frame[7]) << 8) |
           (static_cast<uint32_t>(frame[8]) << 16) | (static_cast<uint32_t>(frame[9]) << 24);
}

// Whether a standard page frame carries exactly the pattern of its page.
inline bool PageDataGood(const uint8_t* frame) {
    const uint32_t page = PageNumber(frame);
    for (uint32_t i = 0; i < vxsim::kPageDataSize; ++i)
        if (frame[12 + i] != vxsim::PagePatternByte(page, i)) return false;
    return true;
}

// Splits a stream of back-to-back 272-byte page frames; false if the stream
// is not exactly that.
inline bool SplitPageFrames(const Bytes& stream, std::vector<Bytes>& frames) {
    frames.clear();
    if (stream.size() % vxsim::kPageFrameSize != 0) return false;
    for (size_t at = 0; at < stream.size(); at += vxsim::kPageFrameSize)
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(at + vxsim::kPageFrameSize));
    return true;
}

inline bool HasStartMarker(const Bytes& b) {
    for (size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xA5 && b[i + 1] == 0x5A) return true;
    return false;
}

} // namespace simtest
