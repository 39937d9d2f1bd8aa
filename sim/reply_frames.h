#pragma once
// The frames the tool sends back: ordinary replies, page frames (standard and
// triple), and the byte sum that stands in for the CRC when a page read asks
// for the sum check.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxsim {

constexpr size_t kPageFrameSize = 272;
constexpr size_t kTripleFrameSize = 784;
constexpr uint8_t kModeSumCheck = 0x80;
constexpr uint8_t kModeTriple = 0x02;

// 16-bit sum of bytes, modulo 65536.
uint16_t ByteSum16(const uint8_t* data, size_t count);

// A5 5A, word count, payload (padded with one zero byte when odd), CRC, FA AF.
std::vector<uint8_t> BuildReplyFrame(const uint8_t* payload, size_t count);

// One 272-byte page frame: page number (LE) at 6..9, index at 10, mode at 11,
// the page's data at 12..267, then the CRC or, with sumCheck, the byte sum.
std::vector<uint8_t> BuildPageFrame(uint32_t page, uint8_t index, bool sumCheck);

// One 784-byte frame carrying pages p, p+2048 and p+4096, interleaved in
// 16-byte chunks: chunk k of sub-page s at offset 12 + 48k + 16s.
std::vector<uint8_t> BuildTriplePageFrame(uint32_t page, uint8_t index, bool sumCheck);

// Writes the check field of a frame in place (CRC, or sum when sumCheck);
// covers bytes 0 .. size-5.
void SealFrame(std::vector<uint8_t>& frame, bool sumCheck);

} // namespace vxsim
