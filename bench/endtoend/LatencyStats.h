#pragma once

#include <cstdint>
#include <vector>

namespace corvane {

struct LatencyStats {
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
};

// Nearest-rank median and 99th percentile of nanosecond samples; zeros when there are none.
LatencyStats summarize(std::vector<std::int64_t> nanoseconds);

} // namespace corvane
