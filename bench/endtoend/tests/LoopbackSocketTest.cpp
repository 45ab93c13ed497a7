#include "LoopbackSocket.h"

#include "LoopbackListener.h"
#include "StampedCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace corvane {
namespace {

struct Pair {
    LoopbackSocket client;
    LoopbackSocket server;
};

Pair connectedPair() {
    auto listener = LoopbackListener::open();
    EXPECT_TRUE(listener.has_value());
    auto client = LoopbackSocket::connectTo(listener->port());
    EXPECT_TRUE(client.has_value());
    auto server = listener->accept();
    EXPECT_TRUE(server.has_value());
    return Pair{std::move(*client), std::move(*server)};
}

TEST(LoopbackSocket, ReadLine_LinesSplitAndJoinedAcrossWrites_ReturnsEachWhole) {
    Pair pair = connectedPair();
    ASSERT_TRUE(pair.client.sendAll("one\ntw"));
    ASSERT_TRUE(pair.client.sendAll("o\nthree\n"));

    EXPECT_EQ(pair.server.readLine().value_or("?"), "one");
    EXPECT_EQ(pair.server.readLine().value_or("?"), "two");
    EXPECT_EQ(pair.server.readLine().value_or("?"), "three");
}

TEST(LoopbackSocket, ReadLine_PeerEndsMidLine_FailsRatherThanReturningHalf) {
    Pair pair = connectedPair();
    ASSERT_TRUE(pair.client.sendAll("whole\nhal"));
    pair.client.shutdownSending();

    EXPECT_EQ(pair.server.readLine().value_or("?"), "whole");
    EXPECT_FALSE(pair.server.readLine().has_value());
}

TEST(StampedCounter, WaitFor_CountReachedOnAnotherThread_ReturnsWithItsStamp) {
    StampedCounter counter;
    std::jthread marker([&counter] {
        counter.mark();
        counter.mark();
    });

    ASSERT_TRUE(counter.waitFor(2, std::chrono::seconds(5)));
    EXPECT_GT(counter.lastNanoseconds(), 0);
}

TEST(StampedCounter, WaitFor_CountNeverReached_FailsAfterTheLimit) {
    StampedCounter counter;
    counter.mark();

    const auto started = std::chrono::steady_clock::now();
    const auto waited = counter.waitFor(2, std::chrono::milliseconds(20));

    EXPECT_FALSE(waited.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

} // namespace
} // namespace corvane
