#include "LatencyStats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace corvane {
namespace {

TEST(LatencyStats, Summarize_ShuffledHundredSamples_TakesNearestRanks) {
    std::vector<std::int64_t> samples;
    for (std::int64_t micros = 1; micros <= 100; ++micros) {
        samples.push_back(micros * 1000);
    }
    std::shuffle(samples.begin(), samples.end(), std::mt19937(7));

    const LatencyStats stats = summarize(samples);

    EXPECT_DOUBLE_EQ(stats.medianMicroseconds, 50.0);
    EXPECT_DOUBLE_EQ(stats.p99Microseconds, 99.0);
}

TEST(LatencyStats, Summarize_OneSlowOutlierInAThousand_StaysOutOfP99) {
    std::vector<std::int64_t> samples(999, 10000);
    samples.push_back(5000000);

    const LatencyStats stats = summarize(samples);

    EXPECT_DOUBLE_EQ(stats.medianMicroseconds, 10.0);
    EXPECT_DOUBLE_EQ(stats.p99Microseconds, 10.0);
}

TEST(LatencyStats, Summarize_OneOrNoSamples_NeverReadsOutOfRange) {
    EXPECT_DOUBLE_EQ(summarize({2500}).medianMicroseconds, 2.5);
    EXPECT_DOUBLE_EQ(summarize({2500}).p99Microseconds, 2.5);
    EXPECT_DOUBLE_EQ(summarize({}).medianMicroseconds, 0.0);
    EXPECT_DOUBLE_EQ(summarize({}).p99Microseconds, 0.0);
}

} // namespace
} // namespace corvane
