#pragma once
// The data the simulated tool keeps in its flash pages: a fixed function of
// the page number and the offset within the page, so that a test (or a host
// author) can recompute any page it downloads and compare byte for byte.
//
//   byte(page, offset) = (offset*31 + page*131 + (page>>8)*7 + (page>>16)*3 + (page>>24)) mod 256
//
// Neighbouring pages, pages 256 apart and the three pages of a triple frame
// (p, p+2048, p+4096) all differ at every offset.
#include <cstddef>
#include <cstdint>

namespace vxsim {

constexpr size_t kPageDataSize = 256;

inline uint8_t PagePatternByte(uint32_t page, uint32_t offset) {
    const uint32_t v = offset * 31u + page * 131u + (page >> 8) * 7u + (page >> 16) * 3u + (page >> 24);
    return static_cast<uint8_t>(v & 0xFFu);
}

// Fills out[0..255] with the data of one page.
inline void FillPagePattern(uint32_t page, uint8_t* out) {
    for (uint32_t i = 0; i < kPageDataSize; ++i) out[i] = PagePatternByte(page, i);
}

} // namespace vxsim
