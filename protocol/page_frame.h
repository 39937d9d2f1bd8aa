#pragma once
// The frames a tool sends for a flash-page read: one page per standard frame,
// or three pages interleaved in a triple frame.
//
//   0  A5 5A        start marker
//   2  00 86        flags and word count (standard frame: 134 words)
//   4  BE 4D        page-read command
//   6  page number  unsigned 32-bit, least significant byte first
//  10  index        the page's place within its request
//  11  mode         bit 7: sum check; bit 1: triple frame
//  12  data         256 bytes (triple frame: 768 bytes in 16-byte chunks)
// 268  CRC, then FA AF (standard frame; 272 bytes in all)
//
// A triple frame is one longer than 270 bytes whose byte 5 is 4D and whose
// mode byte has bit 1 set, and which is long enough to hold its 768 data
// bytes (780 bytes or more). A frame flagged as triple but shorter than that
// is an ordinary page: it is kept whole as received and its bytes are never
// read as sub-pages, so nothing past its end is touched.
#include <array>
#include <cstdint>

namespace pageframe {
constexpr int kStandardSize = 272;
constexpr int kDataOffset = 12;
constexpr int kDataSize = 256;
constexpr int kCrcOffset = 268;
constexpr int kMinPartSize = 11;       // up to and including the index byte
constexpr int kTripleFlaggedOver = 270;
constexpr int kTripleMinSize = kDataOffset + 3 * kDataSize;  // 780
constexpr int kSubPages = 3;
constexpr int kChunkSize = 16;
constexpr uint32_t kSubPageStride = 2048;  // sub-page s holds page p + 2048 * s
constexpr unsigned char kTripleBit = 0x02;
} // namespace pageframe

using StandardPageFrame = std::array<uint8_t, pageframe::kStandardSize>;
using TripleRows = std::array<StandardPageFrame, pageframe::kSubPages>;

// Fields of a page frame of `size` bytes; 0 when the frame is too short to
// hold the field (or null).
uint32_t PageNumber(const unsigned char* frame, int size);   // bytes 6..9
unsigned char PageIndex(const unsigned char* frame, int size);  // byte 10
unsigned char PageMode(const unsigned char* frame, int size);   // byte 11

// Longer than 270 bytes, byte 5 4D, bit 1 of byte 11 set: the tool meant a
// triple frame.
bool IsTripleFlagged(const unsigned char* frame, int size);

// Flagged and long enough to expand: the frames that become three pages.
bool IsTripleFrame(const unsigned char* frame, int size);

// The three standard frames a triple frame stands for: A5 5A 00 86 BE 4D,
// page p + 2048 * s, byte 10 copied, mode 0, the sub-page's 16 chunks in
// order, a fresh CRC of bytes 0..267, FA AF. False (rows zeroed) when the
// frame is not a triple frame.
bool ExpandTripleFrame(const unsigned char* frame, int size, TripleRows& rows);
