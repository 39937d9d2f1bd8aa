#pragma once
// Checks of a downloaded page file: one 272-byte page frame per row, each
// carrying the simulated tool's pattern for its page.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/page_pattern.h"

namespace ctltest {

constexpr size_t kPageFrameSize = 272;

// Empty when the file holds exactly the frames of pages, in that order;
// otherwise what is wrong.
inline std::string CheckPageFile(const std::vector<uint8_t>& file, const std::vector<uint32_t>& pages) {
    if (file.size() != pages.size() * kPageFrameSize)
        return "size " + std::to_string(file.size()) + ", expected " + std::to_string(pages.size() * kPageFrameSize);
    for (size_t row = 0; row < pages.size(); ++row) {
        const uint8_t* f = &file[row * kPageFrameSize];
        const uint32_t page = f[6] | f[7] << 8 | f[8] << 16 | static_cast<uint32_t>(f[9]) << 24;
        if (f[0] != 0xA5 || f[1] != 0x5A || f[4] != 0xBE || f[5] != 0x4D || f[270] != 0xFA || f[271] != 0xAF)
            return "row " + std::to_string(row) + " is not a page frame";
        if (page != pages[row])
            return "row " + std::to_string(row) + " holds page " + std::to_string(page) + ", expected " +
                   std::to_string(pages[row]);
        for (uint32_t i = 0; i < vxsim::kPageDataSize; ++i)
            if (f[12 + i] != vxsim::PagePatternByte(page, i))
                return "row " + std::to_string(row) + " data differs at offset " + std::to_string(i);
    }
    return std::string();
}

} // namespace ctltest
