#include "protocol/crc16.h"

namespace {

struct CrcTables {
    unsigned char hi[256];
    unsigned char lo[256];
    CrcTables() {
        for (int i = 0; i < 256; ++i) {
            uint16_t r = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                r = (r & 0x8000) ? static_cast<uint16_t>((r << 1) ^ 0x1021) : static_cast<uint16_t>(r << 1);
            hi[i] = static_cast<unsigned char>(r >> 8);
            lo[i] = static_cast<unsigned char>(r & 0xFF);
        }
    }
};

const CrcTables& Tables() {
    static const CrcTables tables;
    return tables;
}

} // namespace

void CCrc16::Add(unsigned char byte) {
    const CrcTables& t = Tables();
    const unsigned char index = m_hi;
    m_hi = static_cast<unsigned char>(t.hi[index] ^ m_lo);
    m_lo = static_cast<unsigned char>(byte ^ t.lo[index]);
}

void CCrc16::Add(const unsigned char* data, long count) {
    if (data == nullptr) return;
    for (long i = 0; i < count; ++i) Add(data[i]);
}

uint16_t CCrc16::Of(const unsigned char* data, size_t count) {
    CCrc16 crc;
    crc.Add(data, static_cast<long>(count));
    return crc.Value();
}
