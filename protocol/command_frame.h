#pragma once
// Command frames as they go on the wire:
//   A5 5A | flags+len-hi | len-lo | payload | CRC hi, lo | FA AF
#include <cstddef>
#include <cstdint>
#include <vector>

namespace frame {
constexpr unsigned char kStart0 = 0xA5;
constexpr unsigned char kStart1 = 0x5A;
constexpr unsigned char kEnd0 = 0xFA;
constexpr unsigned char kEnd1 = 0xAF;
constexpr size_t kOverhead = 8;  // header 4, CRC 2, end marker 2
} // namespace frame

// The bytes written for one command text of len characters. A pre-framed text
// is sent as its own len/2 bytes; any other text becomes a frame of len/2 + 8
// bytes. Characters after the first non-hex one leave their payload bytes zero.
std::vector<unsigned char> EncodeCommand(const wchar_t* text, size_t len, bool addressed, bool preFramed);

// A new[]-allocated unaddressed frame of len/2 + 8 bytes for text, or null when
// the text holds a character that is not a hex digit. frameSize may be null.
unsigned char* BuildCommandFrame(const wchar_t* text, size_t* frameSize = nullptr);
