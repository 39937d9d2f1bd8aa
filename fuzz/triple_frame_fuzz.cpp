// Page frames of any size and content, read from an exactly sized heap copy:
// field reads and triple-frame expansion never look past the end, and every
// expanded row is a standard frame whose CRC checks.
#include <cstring>
#include <memory>

#include "fuzz_input.h"
#include "protocol/crc16.h"
#include "protocol/page_frame.h"
#include "protocol/rx_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    const int n = static_cast<int>(size);
    std::unique_ptr<unsigned char[]> frame(new unsigned char[size == 0 ? 1 : size]);
    std::memcpy(frame.get(), data, size);
    const unsigned char* f = size == 0 ? nullptr : frame.get();

    const uint32_t page = PageNumber(f, n);
    if (n < 10) FUZZ_CHECK(page == 0);
    (void)PageIndex(f, n);
    (void)PageMode(f, n);

    const bool flagged = f != nullptr && n > 270 && f[5] == 0x4D && (f[11] & 0x02);
    FUZZ_CHECK(IsTripleFlagged(f, n) == flagged);
    FUZZ_CHECK(IsTripleFrame(f, n) == (flagged && n >= 780));

    TripleRows rows;
    const bool expanded = ExpandTripleFrame(f, n, rows);
    FUZZ_CHECK(expanded == IsTripleFrame(f, n));
    if (!expanded) {
        for (const StandardPageFrame& row : rows)
            for (uint8_t b : row) FUZZ_CHECK(b == 0);
        return 0;
    }
    static const uint8_t kHeader[] = {0xA5, 0x5A, 0x00, 0x86, 0xBE, 0x4D};
    for (int s = 0; s < 3; ++s) {
        const StandardPageFrame& row = rows[s];
        FUZZ_CHECK(std::memcmp(row.data(), kHeader, sizeof kHeader) == 0);
        FUZZ_CHECK(PageNumber(row.data(), 272) == page + 2048u * static_cast<uint32_t>(s));
        FUZZ_CHECK(row[10] == f[10] && row[11] == 0);
        for (int k = 0; k < 16; ++k)
            FUZZ_CHECK(std::memcmp(row.data() + 12 + 16 * k, f + 12 + 48 * k + 16 * s, 16) == 0);
        FUZZ_CHECK(CCrc16::Of(row.data(), 268) == ((row[268] << 8) | row[269]));
        FUZZ_CHECK(row[270] == 0xFA && row[271] == 0xAF);
        FUZZ_CHECK(FrameIsAcceptable(row.data(), 272));
        FUZZ_CHECK(!IsTripleFrame(row.data(), 272));
    }
    return 0;
}
