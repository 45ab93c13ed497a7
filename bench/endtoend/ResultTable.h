#pragma once

#include "LatencyStats.h"
#include "TouchClient.h"

#include <cstddef>
#include <ostream>

namespace corvane {

struct BenchmarkResults {
    std::size_t latencySamples = 0;
    LatencyStats echoFloor;
    LatencyStats readFloor;
    LatencyStats receiver;
    Throughput throughput;
};

// The goals the benchmark is held to.
struct BenchmarkGoals {
    double medianRatio = 1.5;
    double messagesPerSecond = 200000;
};

// One table: the floors and ours side by side, the rate, and each goal with whether it was met.
// The latency goal is judged against the higher floor ratio, so that neither floor flatters us.
void printResults(std::ostream& out, const BenchmarkResults& results, const BenchmarkGoals& goals);

} // namespace corvane
