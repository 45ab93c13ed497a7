#pragma once

#include "ResultTable.h"
#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <expected>

namespace corvane {

struct RunSizes {
    // Samples that warm caches and the TCP path first; they are not counted.
    std::size_t warmUpSamples = 1000;
    std::size_t latencySamples = 20000;
    std::uint64_t streamedMessages = 1000000;
};

// Measures both floors, then a real receiver listening on loopback, which runs on this thread's
// event loop while a second thread plays the phone. Needs a QCoreApplication.
std::expected<BenchmarkResults, Error> runEndToEnd(const RunSizes& sizes);

} // namespace corvane
