#include "EndToEndRun.h"

#include "AnyPortListenerFactory.h"
#include "platform/qt/QtMainThread.h"
#include "protocol/TouchService.h"
#include "support/QtEventLoop.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(AnyPortListenerFactory, MakeListener_FixedPortAskedTwice_BindsTwoFreePorts) {
    test::qtApplication();
    AnyPortListenerFactory factory(std::make_shared<QtMainThread>());

    auto first = factory.makeListener(TouchService::port);
    const std::uint16_t firstPort = factory.boundPort();
    auto second = factory.makeListener(TouchService::port);

    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(firstPort, 0);
    EXPECT_NE(factory.boundPort(), 0);
    EXPECT_NE(firstPort, factory.boundPort());
}

TEST(EndToEndRun, Run_SmallSizes_EveryMessageReachesTheSink) {
    test::qtApplication();

    const auto results = runEndToEnd(RunSizes{20, 300, 20000});

    ASSERT_TRUE(results.has_value()) << results.error().description();
    for (const LatencyStats& stats : {results->echoFloor, results->readFloor, results->receiver}) {
        EXPECT_GT(stats.medianMicroseconds, 0);
        EXPECT_GE(stats.p99Microseconds, stats.medianMicroseconds);
    }
    EXPECT_EQ(results->latencySamples, 300u);
    EXPECT_EQ(results->throughput.messages, 20000u);
    EXPECT_GT(results->throughput.wallNanoseconds, 0);
    EXPECT_GT(results->throughput.receiverCpuNanoseconds, 0);
}

} // namespace
} // namespace corvane
