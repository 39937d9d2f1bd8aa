#pragma once
// What the tool hands to a frontend: bytes with the pause before them and the
// link rate they travel at.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxsim {

constexpr uint32_t kBaseRate = 38400;

struct OutputChunk {
    uint32_t delayMs = 0;     // pause after the previous chunk has gone
    uint32_t rate = kBaseRate;
    std::vector<uint8_t> bytes;
    uint32_t framesEnded = 0; // reply frames whose last byte is in this chunk
};

typedef std::vector<OutputChunk> ChunkList;

} // namespace vxsim
