#include "protocol/progress_estimate.h"

#include <cmath>
#include <limits>
#include <string>

namespace {

const char kLessThanAMinute[] = "Estimated time remaining: less than 1 minute";
const char kCancelNotice[] = "Waiting to opportunity to cancel...";

std::string MinutesText(double seconds) {
    const double minutes = std::ceil(seconds * (1.0 / 60.0));
    // A crawl over a long list can promise more minutes than the text's
    // 32-bit number holds; say the most it can.
    const double most = static_cast<double>(std::numeric_limits<uint32_t>::max());
    const unsigned long whole = static_cast<unsigned long>(minutes < most ? minutes : most);
    return "Estimated time remaining: " + std::to_string(whole) + (whole > 1 ? " minutes" : " minute");
}

} // namespace

ProgressTexts EstimateProgress(const ProgressInput& in) {
    ProgressTexts texts;
    // Numbers through to_string, not the printf family: that would bring a
    // whole formatter (floating point included) into the library.
    texts.block = "Block " + std::to_string(uint32_t(in.count - in.firstCount)) + " of " +
                  std::to_string(uint32_t(in.lastCount - in.firstCount));

    const double done = static_cast<int32_t>(in.count - in.firstCount);
    const double remaining = static_cast<int32_t>(in.lastCount - in.count);
    const uint32_t elapsed = in.lastUpdate - in.startTick;
    const double rate = done * 1000.0 / static_cast<double>(elapsed == 0 ? 1 : elapsed);
    const double threshold = static_cast<double>(in.baudRate / progress::kBaudPerPageRate) * 0.5;

    const bool plausible = rate > threshold;
    if (!plausible || elapsed <= progress::kQuietStartMs) return texts;

    if (in.cancel) {
        texts.time = kCancelNotice;
    } else {
        const double seconds = remaining / rate;
        texts.time = seconds < 60.0 ? kLessThanAMinute : MinutesText(seconds);
    }
    return texts;
}

bool ProgressRefreshDue(uint32_t now, uint32_t lastUpdate) {
    return static_cast<uint32_t>(now - lastUpdate) > progress::kRefreshMs;
}
