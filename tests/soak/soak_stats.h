#pragma once
// What the soak counts, and the process figures it reports.
#include <atomic>
#include <cstdint>
#include <string>

struct SoakCounts {
    std::atomic<long> issued{0};
    std::atomic<long> complete{0};
    std::atomic<long> abandoned{0};
    std::atomic<long> lost{0};        // neither complete nor abandoned in time
    std::atomic<long> misfiled{0};    // complete with a reply no abandoned command explains
    std::atomic<long> lateTaken{0};   // complete with the late reply of an abandoned command
    std::atomic<long> duplicated{0};  // an ID seen twice, or deleted twice
    std::atomic<long> failed{0};      // an export gave an impossible result
};

struct ProcessFigures {
    unsigned long handles;
    unsigned long long privateBytes;
};

ProcessFigures MeasureProcess();
std::string FormatFigures(const char* when, const ProcessFigures& f);
