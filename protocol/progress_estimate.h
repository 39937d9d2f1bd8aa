#pragma once
// The two text lines of the download progress window, worked out from the
// page counts and tick counts alone so that the window only displays them.
#include <cstdint>
#include <string>

namespace progress {
constexpr uint32_t kRefreshMs = 200;      // texts change at most this often
constexpr uint32_t kQuietStartMs = 5000;  // no estimate before this much time
constexpr uint32_t kBaudPerPageRate = 2448;
} // namespace progress

struct ProgressInput {
    uint32_t firstCount;  // received-page count when the download started
    uint32_t lastCount;   // firstCount + pages wanted
    uint32_t count;       // received-page count now
    uint32_t startTick;   // when counting started
    uint32_t lastUpdate;  // this update's tick
    uint32_t baudRate;    // the link rate, for the plausibility threshold
    bool cancel;          // the user asked to cancel
};

struct ProgressTexts {
    std::string block;  // "Block %lu of %lu"
    std::string time;   // the estimate, the cancel notice, or empty
};

// Block line: pages done of pages wanted. Time line: shown only once more than
// 5 s have passed and the page rate is above half of baudRate / 2448 (whole
// division); then "less than 1 minute" under 60 s left, else whole minutes
// rounded up, or the cancel notice when cancel is set. Otherwise empty.
ProgressTexts EstimateProgress(const ProgressInput& in);

// Whether an update at `now` is due: strictly more than 200 ms after the last
// one (unsigned tick difference).
bool ProgressRefreshDue(uint32_t now, uint32_t lastUpdate);
