#include "protocol/page_frame.h"

#include <cstring>

#include "protocol/crc16.h"

namespace {

constexpr unsigned char kStandardHeader[] = {0xA5, 0x5A, 0x00, 0x86, 0xBE, 0x4D};

unsigned char ByteAt(const unsigned char* frame, int size, int at) {
    return (frame != nullptr && at < size) ? frame[at] : 0;
}

void PutLittleEndian(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

uint32_t PageNumber(const unsigned char* frame, int size) {
    if (frame == nullptr || size < 10) return 0;
    return static_cast<uint32_t>(frame[6]) | (static_cast<uint32_t>(frame[7]) << 8) |
           (static_cast<uint32_t>(frame[8]) << 16) | (static_cast<uint32_t>(frame[9]) << 24);
}

unsigned char PageIndex(const unsigned char* frame, int size) { return ByteAt(frame, size, 10); }

unsigned char PageMode(const unsigned char* frame, int size) { return ByteAt(frame, size, 11); }

bool IsTripleFlagged(const unsigned char* frame, int size) {
    return frame != nullptr && size > pageframe::kTripleFlaggedOver && frame[5] == 0x4D &&
           (frame[11] & pageframe::kTripleBit) != 0;
}

bool IsTripleFrame(const unsigned char* frame, int size) {
    return IsTripleFlagged(frame, size) && size >= pageframe::kTripleMinSize;
}

bool ExpandTripleFrame(const unsigned char* frame, int size, TripleRows& rows) {
    for (StandardPageFrame& row : rows) row.fill(0);
    if (!IsTripleFrame(frame, size)) return false;

    const uint32_t page = PageNumber(frame, size);
    for (int s = 0; s < pageframe::kSubPages; ++s) {
        uint8_t* row = rows[s].data();
        std::memcpy(row, kStandardHeader, sizeof kStandardHeader);
        PutLittleEndian(row + 6, page + pageframe::kSubPageStride * static_cast<uint32_t>(s));
        row[10] = frame[10];
        row[11] = 0;
        const int chunks = pageframe::kDataSize / pageframe::kChunkSize;
        for (int k = 0; k < chunks; ++k) {
            const unsigned char* chunk =
                frame + pageframe::kDataOffset + pageframe::kSubPages * pageframe::kChunkSize * k +
                pageframe::kChunkSize * s;
            std::memcpy(row + pageframe::kDataOffset + pageframe::kChunkSize * k, chunk, pageframe::kChunkSize);
        }
        const uint16_t crc = CCrc16::Of(row, pageframe::kCrcOffset);
        row[pageframe::kCrcOffset] = static_cast<uint8_t>(crc >> 8);
        row[pageframe::kCrcOffset + 1] = static_cast<uint8_t>(crc & 0xFF);
        row[pageframe::kStandardSize - 2] = 0xFA;
        row[pageframe::kStandardSize - 1] = 0xAF;
    }
    return true;
}
