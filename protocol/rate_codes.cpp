#include "protocol/rate_codes.h"

namespace {
constexpr uint32_t kRates[] = {38400, 76800, 115200, 153600, 230400};
constexpr unsigned kCodeCount = sizeof(kRates) / sizeof(kRates[0]);
} // namespace

uint32_t RateForCode(unsigned code) {
    return (code >= 1 && code <= kCodeCount) ? kRates[code - 1] : 0;
}

unsigned CodeForRate(uint32_t rate) {
    for (unsigned i = 0; i < kCodeCount; ++i)
        if (kRates[i] == rate) return i + 1;
    return 0;
}

uint32_t RateForPageReadByte(unsigned char byte11) {
    return RateForCode(byte11 & rates::kRateCodeMask);
}

unsigned char PageReadRateByte(uint32_t rate, bool sumCheck) {
    const unsigned code = CodeForRate(rate);
    return static_cast<unsigned char>(code | (sumCheck ? rates::kSumCheckRequest : 0));
}
