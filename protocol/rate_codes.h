#pragma once
// Link rates named by a code in the page-read request and, on an FTDI link,
// applied by the robot object while the pages stream back.
#include <cstdint>

// Every link starts at this rate and returns to it after a page read.
constexpr uint32_t kBaseRate = 38400;

namespace rates {
constexpr unsigned char kSumCheckRequest = 0x80;  // bit 7 of the rate byte
constexpr unsigned char kRateCodeMask = 0x07;
} // namespace rates

// 1..5 -> 38400, 76800, 115200, 153600, 230400; any other code -> 0 (no change).
uint32_t RateForCode(unsigned code);

// The code for a rate; 0 for any rate without one (negative host values
// arrive here as large unsigned numbers and get 0 too).
unsigned CodeForRate(uint32_t rate);

// The rate a page-read request's byte 11 asks for (its low three bits), or 0
// when it asks for no change.
uint32_t RateForPageReadByte(unsigned char byte11);

// The request's rate byte: the rate's code, plus the sum-check request bit
// when sumCheck is set.
unsigned char PageReadRateByte(uint32_t rate, bool sumCheck);
