#pragma once
// The payload text of one flash-page read request (command BE4D). The robot
// object frames it like any other command text; an addressed request also
// sets the addressed flag of the frame.
#include <cstdint>
#include <string>

namespace pagerequest {
constexpr uint32_t kMaxPagesPerRequest = 128;  // one count byte, indices 0..127
constexpr int kAddressCells = 6;               // 16-bit cells; only the first five are sent
} // namespace pagerequest

// A host's page count taken as unsigned and capped at 128 (so negative counts
// also ask for 128 pages).
uint32_t CapPageCount(int32_t pageCount);

// "BE4D" + the four bytes of firstPage (least significant first) + pageCount +
// rateByte, each as at least two lowercase hex digits. With an address (not
// null), its first min(length, 6) UTF-16 units go into six cells that start
// at 0; cells 0..4 are printed after "BE4D", then a fixed "00", then the
// fields as above. A unit above 0xFF prints as more than two digits.
std::wstring BuildPageReadText(int32_t firstPage, uint32_t pageCount, unsigned rateByte, const wchar_t* address);
