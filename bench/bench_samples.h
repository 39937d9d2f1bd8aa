#pragma once
// Order statistics of the benchmarks' figures.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace bench {

// The q-quantile (0..1) of sorted values by the nearest rank; 0 when empty.
inline double QuantileOfSorted(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const double rank = q * static_cast<double>(sorted.size() - 1) + 0.5;
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(rank))];
}

inline double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return QuantileOfSorted(values, q);
}

inline double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

inline double Smallest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

inline double Largest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

} // namespace bench
