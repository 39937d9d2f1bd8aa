#pragma once
// Frames built the slow, obvious way, to check the table-driven code against.
#include <cstdint>
#include <vector>

namespace kit {

using Bytes = std::vector<unsigned char>;

// Remainder of the bytes, read as one polynomial, divided by x^16+x^12+x^5+1.
inline uint16_t PolynomialRemainder(const unsigned char* data, size_t count) {
    uint32_t r = 0;
    for (size_t i = 0; i < count; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            r = (r << 1) | ((data[i] >> bit) & 1u);
            if (r & 0x10000u) r ^= 0x11021u;
        }
    return static_cast<uint16_t>(r);
}

inline uint16_t CheckField(const Bytes& f) { return static_cast<uint16_t>((f[f.size() - 4] << 8) | f[f.size() - 3]); }

inline void SetCheckField(Bytes& f, uint16_t value) {
    f[f.size() - 4] = static_cast<unsigned char>(value >> 8), f[f.size() - 3] = static_cast<unsigned char>(value);
}

// The 16-bit byte sum that stands in for the CRC when a page read asks for it.
inline void SealWithSum(Bytes& f) {
    unsigned sum = 0;
    for (size_t i = 0; i + 4 < f.size(); ++i) sum += f[i];
    SetCheckField(f, static_cast<uint16_t>(sum));
}

// A5 5A, word count, payload (even length), CRC, FA AF.
inline Bytes MakeFrame(const Bytes& payload) {
    const size_t words = (payload.size() + 4) / 2;
    Bytes f = {0xA5, 0x5A, static_cast<unsigned char>((words >> 8) << 4), static_cast<unsigned char>(words & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    f.insert(f.end(), {0, 0, 0xFA, 0xAF});
    SetCheckField(f, PolynomialRemainder(f.data(), f.size() - 4));
    return f;
}

// A page frame: page number, index, mode, then dataBytes bytes (256: a standard frame; 768: a triple frame).
inline Bytes MakePageFrame(uint32_t page, unsigned char index, unsigned char mode, size_t dataBytes = 256) {
    Bytes payload = {0xBE, 0x4D};
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<unsigned char>(page >> (8 * i)));
    payload.insert(payload.end(), {index, mode});
    for (size_t i = 0; i < dataBytes; ++i) payload.push_back(static_cast<unsigned char>(i * 7 + i / 256));
    return MakeFrame(payload);
}

} // namespace kit
