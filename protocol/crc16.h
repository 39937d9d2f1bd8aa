#pragma once
// CRC-16 of the tool link: polynomial 0x1021, MSB first, register starting at
// zero, no augmentation bytes. Computed with the two byte-wide halves of the
// usual 256-entry table so that each input byte costs one table step.
#include <cstddef>
#include <cstdint>

class CCrc16 {
public:
    CCrc16() { Reset(); }
    void Reset() { m_hi = 0; m_lo = 0; }
    void Add(const unsigned char* data, long count);
    void Add(unsigned char byte);
    uint16_t Value() const { return static_cast<uint16_t>((m_hi << 8) | m_lo); }

    // CRC of a whole buffer in one call.
    static uint16_t Of(const unsigned char* data, size_t count);

private:
    unsigned char m_hi;
    unsigned char m_lo;
};
