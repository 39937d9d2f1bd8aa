#pragma once
// Frames built the slow, obvious way, to check the table-driven code against.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testframes {

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

inline Bytes Hex(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<unsigned char>(b));
    return out;
}

// A5 5A, word count, payload (even length), CRC, FA AF.
inline Bytes MakeFrame(const Bytes& payload, unsigned char flags = 0) {
    const size_t words = (payload.size() + 4) / 2;
    Bytes f = {0xA5, 0x5A, static_cast<unsigned char>(((words >> 8) << 4) | (flags & 0x0F)),
               static_cast<unsigned char>(words & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    const uint16_t crc = PolynomialRemainder(f.data(), f.size());
    f.push_back(static_cast<unsigned char>(crc >> 8));
    f.push_back(static_cast<unsigned char>(crc & 0xFF));
    f.push_back(0xFA);
    f.push_back(0xAF);
    return f;
}

inline void SetCrcField(Bytes& f, uint16_t value) {
    f[f.size() - 4] = static_cast<unsigned char>(value >> 8);
    f[f.size() - 3] = static_cast<unsigned char>(value & 0xFF);
}

inline uint16_t CrcField(const unsigned char* f, size_t size) {
    return static_cast<uint16_t>((f[size - 4] << 8) | f[size - 3]);
}

// A standard page frame: page number, index, mode, 256 data bytes.
inline Bytes MakePageFrame(uint32_t page, unsigned char index, unsigned char mode, unsigned char fill = 0) {
    Bytes payload = {0xBE, 0x4D};
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<unsigned char>(page >> (8 * i)));
    payload.push_back(index);
    payload.push_back(mode);
    for (int i = 0; i < 256; ++i) payload.push_back(static_cast<unsigned char>(fill + i));
    return MakeFrame(payload);
}

} // namespace testframes
