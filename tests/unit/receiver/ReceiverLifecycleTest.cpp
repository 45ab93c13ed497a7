#include "ReceiverHarness.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

class ReceiverLifecycleTest : public ::testing::Test, protected ReceiverHarness {};

std::vector<std::uint8_t> littleEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

TEST_F(ReceiverLifecycleTest, Start_OpensOneListener_ReadyOnlyOnceReported) {
    receiver->start();
    receiver->start();
    ASSERT_EQ(listeners->listeners.size(), 1u);
    EXPECT_EQ(listener()->starts, 1);
    EXPECT_EQ(listener()->service->name, "Test Desk");
    EXPECT_EQ(receiver->code().size(), PairingCode::length);
    EXPECT_EQ(receiver->code().find_first_not_of("0123456789"), std::string::npos);
    listener()->reportState(ListenerState::ready);
    EXPECT_EQ(receiver->status(), "Starting receiver…");
    run();
    EXPECT_EQ(receiver->status(), "Ready for pairing");

    for (const auto& name : {std::optional<std::string>(), {""}}) {
        hostName->name = name;
        receiver->stop();
        receiver->start();
        EXPECT_EQ(listener()->service->name, "Mac");
    }
}

// Observers are never inside an operation; each hears the state its own assignment made. (The
// headless runner's lines show the order and the values.)
TEST_F(ReceiverLifecycleTest, Observers_ToldAfterTheOperation) {
    startReady();
    changes.clear();
    receiver->stop();
    EXPECT_TRUE(changes.empty());
    run();
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].field, PublishedField::code);
    EXPECT_TRUE(changes[0].state.isRunning) << "the code went before the running flag";
}

TEST_F(ReceiverLifecycleTest, Code_PaddedUnbiasedAndNeverWithoutRandom) {
    // Draws from the last, incomplete block of a million are drawn again.
    const auto biased = littleEndian(4'294'000'000u);
    codeRandom->script = {biased, littleEndian(2'000'042u)};
    receiver->start();
    EXPECT_EQ(receiver->code(), "000042");
    receiver->stop();
    codeRandom->script = {littleEndian(4'293'999'999u)};
    receiver->start();
    EXPECT_EQ(receiver->code(), "999999");
    receiver->stop();
    codeRandom->script = std::deque<std::vector<std::uint8_t>>(16, biased);
    receiver->start();
    EXPECT_EQ(receiver->status(),
              "Could not draw a pairing code: Secure random data is unavailable");
    EXPECT_TRUE(codeRandom->script.empty());
}

// Reports from a listener the receiver has let go of change nothing; its connections are refused.
TEST_F(ReceiverLifecycleTest, OldListener_LateReportsIgnored) {
    startReady();
    listener()->reportAdvertising(Error("gone"));
    run();
    auto old = listener();
    receiver->stop();
    EXPECT_EQ(receiver->publishingStatus(), "");

    receiver->start();
    old->reportAdvertising(Error("late"));
    old->reportState(ListenerState::failed, Error("late"));
    auto stray = std::make_shared<FakeConnection>();
    old->deliverConnection(stray);
    run();
    EXPECT_EQ(receiver->publishingStatus(), "");
    EXPECT_EQ(receiver->status(), "Starting receiver…");
    EXPECT_EQ(stray->cancels, 1);
    EXPECT_EQ(stray->starts, 0);

    old->reportState(ListenerState::ready); // posted, and the receiver is gone when it runs
    receiver.reset();
    run();
}

} // namespace
} // namespace corvane::test
