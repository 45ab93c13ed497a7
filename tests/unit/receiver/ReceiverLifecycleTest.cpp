#include "ReceiverHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvane::test {
namespace {

bool isSixDigits(const std::string& code) {
    return code.size() == 6 &&
           std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::uint8_t> littleEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

class ReceiverLifecycleTest : public ::testing::Test, protected ReceiverHarness {};

TEST_F(ReceiverLifecycleTest, Create_StartsNothingAndReadsTrust) {
    trust->trusted = false;
    auto receiver2 = TouchReceiver::create(platform());
    EXPECT_FALSE(receiver2->hasAccessibility());
    EXPECT_EQ(receiver2->status(), "Stopped");
    EXPECT_EQ(receiver2->code(), "");
    EXPECT_FALSE(receiver2->isRunning());
    EXPECT_EQ(receiver2->bluetoothStatus(), "Bluetooth stopped");
    EXPECT_TRUE(listeners->listeners.empty());
}

TEST_F(ReceiverLifecycleTest, Start_OpensAdvertisedListenerAndBecomesReady) {
    receiver->start();
    ASSERT_NE(listener(), nullptr);
    EXPECT_TRUE(receiver->isRunning());
    EXPECT_EQ(receiver->status(), "Starting receiver…");
    EXPECT_TRUE(isSixDigits(receiver->code()));
    EXPECT_EQ(listener()->port(), 55440);
    EXPECT_EQ(listener()->startCount(), 1);
    ASSERT_TRUE(listener()->service());
    EXPECT_EQ(listener()->service()->name, "Test Desk");
    EXPECT_EQ(listener()->service()->type, "_corvane._tcp");
    EXPECT_EQ(listener()->service()->txtRecord,
              (std::map<std::string, std::string>{{"id", hostID()}}));

    listener()->reportState(ListenerState::setup);
    listener()->reportState(ListenerState::ready);
    EXPECT_EQ(receiver->status(), "Starting receiver…") << "reports wait for the main thread";
    run();
    EXPECT_EQ(receiver->status(), "Ready for pairing");
}

TEST_F(ReceiverLifecycleTest, Start_WithoutOrWithEmptyHostName_AdvertisesMac) {
    hostName->name.reset();
    receiver->start();
    EXPECT_EQ(listener()->service()->name, "Mac");
    receiver->stop();
    hostName->name = "";
    receiver->start();
    EXPECT_EQ(listener()->service()->name, "Mac");
}

TEST_F(ReceiverLifecycleTest, Start_WhileRunning_ChangesNothing) {
    startReady();
    const std::string code = receiver->code();
    notifications.clear();
    receiver->start();
    EXPECT_EQ(listeners->listeners.size(), 1u);
    EXPECT_EQ(receiver->code(), code);
    EXPECT_EQ(receiver->status(), "Ready for pairing");
    EXPECT_TRUE(notifications.empty());
}

TEST_F(ReceiverLifecycleTest, Start_Untrusted_PromptsAndStaysStoppedEvenIfGrantedMeanwhile) {
    trust->trusted = false;
    trust->trustedAfterRequest = true;
    receiver->start();
    EXPECT_EQ(receiver->status(), "Grant Accessibility access, then start the receiver.");
    EXPECT_EQ(trust->requests, 1);
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_TRUE(receiver->hasAccessibility());
    EXPECT_TRUE(listeners->listeners.empty());
    EXPECT_EQ(receiver->code(), "");
    EXPECT_TRUE(notifications.empty()) << "observers are told after the operation";
    run();
    EXPECT_EQ(notifications, (std::vector{PublishedField::hasAccessibility, PublishedField::status,
                                          PublishedField::hasAccessibility}));
}

// A desktop that answers the request later (the portal's consent dialog): the grant completes
// the start the user asked for, unless a stop came in between; any report is shown.
TEST_F(ReceiverLifecycleTest, TrustReportedLater_CompletesAWaitingStartOnly) {
    for (const bool stopFirst : {false, true}) {
        SCOPED_TRACE(stopFirst ? "stopped before the grant" : "grant after start");
        build();
        trust->trusted = false;
        receiver->start();
        trust->report(false); // the user declined: still waiting for a grant
        EXPECT_FALSE(receiver->isRunning());
        if (stopFirst) {
            receiver->stop();
        }
        trust->report(true);
        EXPECT_TRUE(receiver->hasAccessibility());
        EXPECT_EQ(receiver->isRunning(), !stopFirst);
        EXPECT_EQ(listeners->listeners.size(), stopFirst ? 0u : 1u);
        trust->report(false); // access lost: shown, the receiver runs on
        EXPECT_FALSE(receiver->hasAccessibility());
        EXPECT_EQ(receiver->isRunning(), !stopFirst);
        listeners->listeners.clear();
    }
}

TEST_F(ReceiverLifecycleTest, Start_RegistryUnavailable_StaysStoppedWithCodeUnchanged) {
    secrets->copyStatus = -128;
    secrets->messages[-128] = "User canceled the operation.";
    receiver->start();
    EXPECT_EQ(receiver->status(), "Pairing storage unavailable: User canceled the operation.");
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_EQ(receiver->code(), "");
    EXPECT_TRUE(listeners->listeners.empty());
}

TEST_F(ReceiverLifecycleTest, Start_ListenerCreationFails_KeepsFreshCodeButNotRunning) {
    listeners->failure = Error("Address already in use");
    receiver->start();
    EXPECT_EQ(receiver->status(), "Could not listen: Address already in use");
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_TRUE(isSixDigits(receiver->code()));
}

// Every assignment is reported, even of an equal value.
TEST_F(ReceiverLifecycleTest, Stop_NeverStarted_ResetsTextsAndPostsNothing) {
    receiver->stop();
    EXPECT_EQ(receiver->status(), "Stopped");
    EXPECT_EQ(receiver->bluetoothStatus(), "Bluetooth stopped");
    EXPECT_EQ(receiver->code(), "");
    EXPECT_TRUE(events->posted().empty());
    run();
    EXPECT_EQ(notifications,
              (std::vector{PublishedField::code, PublishedField::isRunning, PublishedField::status,
                           PublishedField::bluetoothStatus}));
}

TEST_F(ReceiverLifecycleTest, NewPairingCode_PadsRedrawsBiasedDrawsAndStopsWithoutRandom) {
    class ScriptedRandom : public SecureRandom {
    public:
        std::vector<std::vector<std::uint8_t>> draws;
        std::size_t next = 0;
        // Past the script, every draw lands above the last whole block of a million.
        bool fill(std::span<std::uint8_t> bytes) override {
            const auto draw = next < draws.size() ? draws[next] : littleEndian(4'294'000'000u);
            ++next;
            std::copy(draw.begin(), draw.end(), bytes.begin());
            return !draw.empty();
        }
    };
    auto random = std::make_shared<ScriptedRandom>();
    // The first draw past the last whole block of a million is drawn again; then 42.
    random->draws = {littleEndian(4'294'000'000u), littleEndian(2'000'042u)};
    codeRandom = nullptr;
    ReceiverPlatform scripted = platform();
    scripted.random = random;
    auto receiver2 = TouchReceiver::create(scripted);
    receiver2->start();
    EXPECT_EQ(receiver2->code(), "000042");

    // The largest unbiased draw is still used.
    random->draws = {littleEndian(4'293'999'999u)};
    random->next = 0;
    receiver2->stop();
    receiver2->start();
    EXPECT_EQ(receiver2->code(), "999999");

    // A failed draw is the answer, and so is a source that never leaves the biased range.
    const std::string unavailable =
        "Could not draw a pairing code: Secure random data is unavailable";
    for (const auto& failing : {std::vector<std::uint8_t>{}, littleEndian(4'294'000'000u)}) {
        receiver2->stop();
        random->draws = {failing};
        random->next = 0;
        receiver2->start();
        EXPECT_EQ(receiver2->status(), unavailable);
        EXPECT_FALSE(receiver2->isRunning());
        EXPECT_LE(random->next, 16u);
    }

    // Mid-run, a client leaving without a fresh code to draw stops the receiver.
    random->draws = {littleEndian(7), {}};
    random->next = 0;
    receiver2->start();
    listeners->last()->reportState(ListenerState::ready);
    auto connection = std::make_shared<FakeConnection>();
    listeners->last()->deliverConnection(connection);
    run();
    connection->reportState(ConnectionState::cancelled);
    run();
    EXPECT_FALSE(receiver2->isRunning());
    EXPECT_EQ(receiver2->status(), unavailable);
}

TEST_F(ReceiverLifecycleTest, Advertising_ProblemShownWhileTcpServesOn_ClearedWhenBackOrStopped) {
    startReady();
    const std::string noDaemon = "Phones cannot find this computer: avahi-daemon is not running";
    listener()->reportAdvertising(Error("avahi-daemon is not running"));
    run();
    EXPECT_EQ(receiver->publishingStatus(), noDaemon);
    EXPECT_EQ(receiver->status(), "Ready for pairing");
    connectAuthenticated();
    EXPECT_EQ(receiver->status(), "Touch device connected");

    listener()->reportAdvertising(std::nullopt);
    run();
    EXPECT_EQ(receiver->publishingStatus(), "");

    listener()->reportAdvertising(Error("avahi-daemon is not running"));
    run();
    auto old = listener();
    receiver->stop();
    EXPECT_EQ(receiver->publishingStatus(), "");
    receiver->start();
    old->reportAdvertising(Error("late"));
    run();
    EXPECT_EQ(receiver->publishingStatus(), "");
}

TEST_F(ReceiverLifecycleTest, Stop_WhileButtonHeld_PostsOneReleaseWithActiveFlags) {
    startReady();
    auto connection = connectAuthenticated();
    deliver(*connection, "{\"kind\":\"modifiers\",\"modifiers\":4}\n{\"kind\":\"buttonDown\"}\n");
    events->clear();
    receiver->stop();
    EXPECT_EQ(events->posted(), std::vector{leftUp(EventFlag::command)});
    EXPECT_EQ(connection->cancelCount(), 1);

    // Modifiers were cleared: the next session's click carries none.
    events->clear();
    startReady();
    auto next = connectAuthenticated();
    deliver(*next, "{\"kind\":\"click\"}\n");
    ASSERT_EQ(events->posted().size(), 2u);
    EXPECT_EQ(events->posted()[0].flags, 0u);
}

TEST_F(ReceiverLifecycleTest, ListenerFailure_StopsWithNetworkError) {
    startReady();
    auto connection = connectAuthenticated();
    listener()->reportState(ListenerState::failed, Error("Network is down"));
    run();
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_EQ(receiver->status(), "Network error: Network is down");
    EXPECT_EQ(receiver->bluetoothStatus(), "Bluetooth stopped");
    EXPECT_EQ(receiver->code(), "");
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_EQ(listener()->cancelCount(), 1);
}

TEST_F(ReceiverLifecycleTest, StaleListenerReports_AfterStopOrRestart_AreIgnored) {
    receiver->start();
    auto old = listener();
    old->reportState(ListenerState::ready); // posted, runs only after stop
    receiver->stop();
    run();
    EXPECT_EQ(receiver->status(), "Stopped");

    receiver->start();
    old->reportState(ListenerState::failed, Error("late"));
    auto stray = std::make_shared<FakeConnection>();
    old->deliverConnection(stray);
    run();
    EXPECT_TRUE(receiver->isRunning());
    EXPECT_EQ(receiver->status(), "Starting receiver…");
    EXPECT_EQ(stray->cancelCount(), 1);
    EXPECT_EQ(stray->startCount(), 0);
}

TEST_F(ReceiverLifecycleTest, Handlers_AfterReceiverIsGone_DoNothing) {
    receiver->start();
    auto keptListener = listener();
    auto connection = std::make_shared<FakeConnection>();
    keptListener->deliverConnection(connection);
    run();
    receiver.reset();
    keptListener->reportState(ListenerState::ready);
    keptListener->deliverConnection(std::make_shared<FakeConnection>());
    connection->reportState(ConnectionState::ready);
    EXPECT_EQ(mainThread->pending(), 0u);
    EXPECT_EQ(connection->receiveCount(), 0);
}

} // namespace
} // namespace corvane::test
