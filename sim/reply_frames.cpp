#include "sim/reply_frames.h"

#include "protocol/crc16.h"
#include "sim/page_pattern.h"

namespace vxsim {

namespace {

std::vector<uint8_t> FrameShell(size_t size) {
    // size is 2N + 4 for a word count N.
    std::vector<uint8_t> f(size, 0);
    const size_t words = (size - 4) / 2;
    f[0] = 0xA5;
    f[1] = 0x5A;
    f[2] = static_cast<uint8_t>((words >> 8) << 4);
    f[3] = static_cast<uint8_t>(words & 0xFF);
    f[size - 2] = 0xFA;
    f[size - 1] = 0xAF;
    return f;
}

void PutPageHeader(std::vector<uint8_t>& f, uint32_t page, uint8_t index, uint8_t mode) {
    f[4] = 0xBE;
    f[5] = 0x4D;
    for (int i = 0; i < 4; ++i) f[6 + i] = static_cast<uint8_t>(page >> (8 * i));
    f[10] = index;
    f[11] = mode;
}

} // namespace

uint16_t ByteSum16(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += data[i];
    return static_cast<uint16_t>(sum & 0xFFFF);
}

void SealFrame(std::vector<uint8_t>& f, bool sumCheck) {
    if (f.size() < 8) return;
    const size_t covered = f.size() - 4;
    const uint16_t check = sumCheck ? ByteSum16(f.data(), covered) : CCrc16::Of(f.data(), covered);
    f[covered] = static_cast<uint8_t>(check >> 8);
    f[covered + 1] = static_cast<uint8_t>(check & 0xFF);
}

std::vector<uint8_t> BuildReplyFrame(const uint8_t* payload, size_t count) {
    if (payload == nullptr) count = 0;
    // Longest frame the 12-bit word count can describe.
    if (count > 2 * 4095 - 4) count = 2 * 4095 - 4;
    const size_t padded = count + (count & 1);
    std::vector<uint8_t> f = FrameShell(padded + 8);
    for (size_t i = 0; i < count; ++i) f[4 + i] = payload[i];
    SealFrame(f, false);
    return f;
}

std::vector<uint8_t> BuildPageFrame(uint32_t page, uint8_t index, bool sumCheck) {
    std::vector<uint8_t> f = FrameShell(kPageFrameSize);
    // Only the sum-check flag goes into the mode byte: bit 1 would mark a
    // 272-byte frame as a triple frame.
    PutPageHeader(f, page, index, sumCheck ? kModeSumCheck : 0);
    FillPagePattern(page, f.data() + 12);
    SealFrame(f, sumCheck);
    return f;
}

std::vector<uint8_t> BuildTriplePageFrame(uint32_t page, uint8_t index, bool sumCheck) {
    std::vector<uint8_t> f = FrameShell(kTripleFrameSize);
    PutPageHeader(f, page, index, static_cast<uint8_t>(kModeTriple | (sumCheck ? kModeSumCheck : 0)));
    uint8_t data[kPageDataSize];
    for (uint32_t s = 0; s < 3; ++s) {
        FillPagePattern(page + 2048u * s, data);
        for (size_t k = 0; k < 16; ++k)
            for (size_t b = 0; b < 16; ++b) f[12 + 48 * k + 16 * s + b] = data[16 * k + b];
    }
    SealFrame(f, sumCheck);
    return f;
}

} // namespace vxsim
