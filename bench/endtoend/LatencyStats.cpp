#include "LatencyStats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

double rank(const std::vector<std::int64_t>& sorted, double fraction) {
    const auto index =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return static_cast<double>(sorted[std::max<std::size_t>(index, 1) - 1]) / 1000.0;
}

} // namespace

LatencyStats summarize(std::vector<std::int64_t> nanoseconds) {
    if (nanoseconds.empty()) {
        return {};
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return LatencyStats{rank(nanoseconds, 0.5), rank(nanoseconds, 0.99)};
}

} // namespace corvane
