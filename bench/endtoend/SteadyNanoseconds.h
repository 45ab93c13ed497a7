#pragma once

#include <chrono>
#include <cstdint>

namespace corvane {

// One clock for every stamp of the benchmark, on every thread.
inline std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace corvane
