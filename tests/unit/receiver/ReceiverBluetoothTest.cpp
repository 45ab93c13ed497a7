#include "ReceiverHarness.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane::test {
namespace {

const CentralID centralA = "0F0E3C7A-1D2B-4C55-8E6F-7A8B9C0D1E2F";
const CentralID centralB = "5B4A3928-1706-4F5E-9D8C-7B6A59483726";
const std::string holdWithCommand =
    "{\"kind\":\"modifiers\",\"modifiers\":4}\n{\"kind\":\"buttonDown\"}\n";

TouchMessage message(TouchMessage::Kind kind) {
    TouchMessage result;
    result.kind = kind;
    return result;
}

TouchMessage moveMessage() {
    TouchMessage result = message(TouchMessage::Kind::move);
    result.dx = 1;
    result.dy = 0;
    return result;
}

const SyntheticEvent releaseWithCommand = ReceiverHarness::leftUp(EventFlag::command);

class ReceiverBluetoothTest : public ::testing::Test, protected ReceiverHarness {
protected:
    void SetUp() override {
        startReady();
        advertise();
    }

    // Subscribes the central and presents the current code; returns the replies it got.
    std::vector<TouchMessage> pair(const CentralID& central) {
        subscribe(central);
        write(central, pairingHello(receiver->code()));
        return notifiedReplies(central);
    }
};

TEST_F(ReceiverBluetoothTest,
       Hello_RightCodeWhileTcpClientAuthenticated_TakesSlotKeepingCodeReleasingItsInput) {
    auto connection = connectAuthenticated();
    deliver(*connection, holdWithCommand);
    const std::string code = receiver->code();
    events->clear();
    notifications.clear();

    const auto replies = pair(centralA);

    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].kind, TouchMessage::Kind::accepted);
    EXPECT_EQ(replies[0].hostID, hostID());
    EXPECT_TRUE(replies[0].token);
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_FALSE(receiver->hasTcpClient());
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
    EXPECT_EQ(receiver->status(), "Touch device connected over Bluetooth");
    EXPECT_EQ(receiver->code(), code);
    run();
    EXPECT_EQ(notifications, std::vector{PublishedField::status});
    // The TCP phone's drag and Command end with the takeover, or the central's moves would drag
    // and its clicks be Command-clicks.
    EXPECT_EQ(events->posted(), std::vector{releaseWithCommand});
    EXPECT_EQ(events->entries.back(),
              (RecordingEventSink::Entry{RecordingEventSink::Call::hold, SyntheticEvent{{}, 0}}));
    EXPECT_FALSE(receiver->buttonHeld());
    EXPECT_EQ(receiver->activeModifiers(), 0u);
    events->clear();

    // Meanwhile new TCP phones are refused and the old connection's late reports do nothing.
    notifications.clear();
    auto next = std::make_shared<FakeConnection>();
    listener()->deliverConnection(next);
    run();
    EXPECT_EQ(next->cancelCount(), 1);
    EXPECT_EQ(next->startCount(), 0);
    deliver(*connection, move1);
    connection->reportState(ConnectionState::failed, Error("reset"));
    connection->reportState(ConnectionState::cancelled);
    run();
    EXPECT_TRUE(notifications.empty());
    EXPECT_TRUE(events->posted().empty());
    EXPECT_EQ(receiver->code(), code);
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
    write(centralA, move1);
    EXPECT_EQ(events->posted().size(), 1u);

    events->clear();
    unsubscribe(centralA);
    EXPECT_TRUE(events->posted().empty());
}

TEST_F(ReceiverBluetoothTest, Activity_TakeoverEndsTcpStayAndCentralsAreNamedByIdentifier) {
    connectAuthenticated();
    pair("central-a");
    subscribe("central-b");
    write("central-b", helloWithCode(receiver->code()));
    write("central-b", helloWithCode(receiver->code()));

    const std::string peer = "192.0.2.7:50412";
    using enum ClientEvent;
    const std::vector<ClientActivity> expected{
        {admittedWithCode, Transport::tcp, peer},
        {pairedWithCode, Transport::bluetooth, "central-a"},
        {left, Transport::tcp, peer},
        {left, Transport::bluetooth, "central-a"},
        {admittedWithCode, Transport::bluetooth, "central-b"},
        {refused, Transport::bluetooth, "central-b"},
    };
    EXPECT_EQ(activity->recorded, expected);
}

TEST_F(ReceiverBluetoothTest, Hello_WhileTcpClientUnauthenticated_CancelsItAndDropsItsBytes) {
    auto connection = connect();
    deliver(*connection, "{\"kind\":\"hel");
    ASSERT_EQ(receiver->bufferedByteCount(), 12u);

    EXPECT_EQ(pair(centralA).at(0).kind, TouchMessage::Kind::accepted);
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_EQ(receiver->bufferedByteCount(), 0u);
    EXPECT_TRUE(connection->sent().empty());
}

TEST_F(ReceiverBluetoothTest, CentralBSubscribes_EndsAsStayThenPairsWithNewCodeOrToken) {
    const auto first = pair(centralA);
    ASSERT_TRUE(first.at(0).token);
    write(centralA, holdWithCommand);
    const std::string oldCode = receiver->code();
    events->clear();

    subscribe(centralB);

    EXPECT_EQ(events->posted(), std::vector{releaseWithCommand});
    EXPECT_FALSE(receiver->buttonHeld());
    EXPECT_EQ(receiver->activeModifiers(), 0u);
    EXPECT_FALSE(receiver->bluetoothClient());
    EXPECT_NE(receiver->code(), oldCode);
    EXPECT_EQ(receiver->status(), "Ready for pairing");

    write(centralB, pairingHello(oldCode));
    EXPECT_EQ(notifiedReplies(centralB).at(0).kind, TouchMessage::Kind::rejected);
    // The phone that paired as A comes back as B with its saved token.
    write(centralB, tokenHello(*first.at(0).token));
    const auto replies = notifiedReplies(centralB);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].kind, TouchMessage::Kind::accepted);
    EXPECT_FALSE(replies[1].token);
    EXPECT_EQ(receiver->bluetoothClient(), centralB);
}

TEST_F(ReceiverBluetoothTest, HelloWhileCentralAdmitted_RejectedAndAdmittedCentralStays) {
    pair(centralA);
    const std::string code = receiver->code();
    notifications.clear();

    write(centralA, pairingHello(code));
    const auto replies = notifiedReplies(centralA);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], message(TouchMessage::Kind::rejected));

    // Another central's hello, in whatever order the transport reports it, is rejected too.
    TouchMessage hello = message(TouchMessage::Kind::hello);
    hello.code = code;
    EXPECT_EQ(receiver->consumeBluetooth(hello, centralB), message(TouchMessage::Kind::rejected));

    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
    write(centralA, move1);
    EXPECT_EQ(movesPosted(), 1u);
}

TEST_F(ReceiverBluetoothTest, Hello_ThirdWrongCodeReplacesTheCode_RightCodeBadIdentityRejected) {
    subscribe(centralA);
    const std::string code = receiver->code();
    write(centralA, pairingHello(wrongCode()));
    write(centralA, pairingHello(wrongCode()));
    EXPECT_EQ(receiver->code(), code);
    write(centralA, pairingHello(wrongCode()));
    EXPECT_NE(receiver->code(), code) << "three wrong guesses retire a code, as on TCP";
    EXPECT_EQ(receiver->status(), "Ready for pairing");

    write(centralA, pairingHello(receiver->code(), "not-a-uuid"));
    const auto replies = notifiedReplies(centralA);
    ASSERT_EQ(replies.size(), 4u);
    for (const TouchMessage& reply : replies) {
        EXPECT_EQ(reply, message(TouchMessage::Kind::rejected));
    }
    EXPECT_EQ(receiver->status(), "Could not save pairing: Invalid device identity");
    EXPECT_FALSE(receiver->bluetoothClient());

    write(centralA, pairingHello(receiver->code()));
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
}

TEST_F(ReceiverBluetoothTest, Budget_WrongCodesOverBothTransports_PauseCodesNeverTokens) {
    const std::string token = pair(centralA).at(0).token.value_or("");
    unsubscribe(centralA);
    const std::string paused = "Too many wrong codes: pairing by code is paused";

    // Five wrong codes, over TCP and Bluetooth together, spend the free allowance.
    const std::string wrong = helloWithCode(wrongCode());
    deliver(*connect(), wrong + wrong + wrong);
    subscribe(centralB);
    write(centralB, helloWithCode(wrongCode()));
    EXPECT_EQ(receiver->pairingStatus(), "");
    notifications.clear();
    write(centralB, helloWithCode(wrongCode()));
    EXPECT_EQ(receiver->pairingStatus(), paused);
    run();
    EXPECT_EQ(notifications, std::vector{PublishedField::pairingStatus});

    // The right code is not even compared now: rejected like a wrong one, a try on TCP too.
    const std::string code = receiver->code();
    write(centralB, helloWithCode(code));
    EXPECT_EQ(activity->recorded.back(),
              (ClientActivity{ClientEvent::budgetSpent, Transport::bluetooth, centralB}));
    auto tcp = connect();
    deliver(*tcp, helloWithCode(code) + helloWithCode(code) + helloWithCode(code));
    EXPECT_EQ(tcp->sent(), std::vector<Bytes>(3, "{\"kind\":\"rejected\"}\n"));
    EXPECT_EQ(tcp->cancelCount(), 1);
    EXPECT_FALSE(receiver->bluetoothClient());
    EXPECT_EQ(activity->recorded.back().event, ClientEvent::budgetSpent);

    // A paired phone's token is never limited.
    subscribe(centralA);
    write(centralA, tokenHello(token));
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
    unsubscribe(centralA);
    subscribe(centralB);

    // One allowance comes back per interval, and the pause ends exactly then.
    clock->advance(PairingBudget::interval - std::chrono::milliseconds(1));
    EXPECT_EQ(receiver->pairingStatus(), paused);
    clock->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(receiver->pairingStatus(), "");
    write(centralB, helloWithCode(wrongCode()));
    EXPECT_EQ(receiver->pairingStatus(), paused);
    clock->advance(PairingBudget::interval);
    write(centralB, pairingHello(receiver->code()));
    EXPECT_EQ(receiver->bluetoothClient(), centralB);
    EXPECT_EQ(clock->pendingWakes(), 0u);
}

TEST_F(ReceiverBluetoothTest, Input_WhileTrustMissing_DroppedSilentlyAndResumesWithoutHello) {
    pair(centralA);
    notifications.clear();
    events->clear();

    trust->trusted = false;
    write(centralA, move1 + "{\"kind\":\"click\"}\n");
    EXPECT_TRUE(events->entries.empty());
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
    EXPECT_EQ(notifiedReplies(centralA).size(), 1u);

    trust->trusted = true;
    write(centralA, move1);
    EXPECT_EQ(movesPosted(), 1u);
}

TEST_F(ReceiverBluetoothTest, Input_FromCentralNotAdmitted_Dropped) {
    subscribe(centralA);
    write(centralA, move1);
    EXPECT_EQ(receiver->consumeBluetooth(moveMessage(), centralA), std::nullopt);
    pair(centralB);
    EXPECT_EQ(receiver->consumeBluetooth(moveMessage(), centralA), std::nullopt);
    EXPECT_TRUE(events->entries.empty());
}

TEST_F(ReceiverBluetoothTest, Disconnect_ForCentralNotAdmitted_ChangesNothing) {
    const std::string code = receiver->code();
    notifications.clear();
    receiver->disconnectBluetooth(centralA);
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(receiver->code(), code);

    pair(centralA);
    write(centralA, holdWithCommand);
    notifications.clear();
    events->clear();
    receiver->disconnectBluetooth(centralB);
    EXPECT_TRUE(notifications.empty());
    EXPECT_TRUE(events->entries.empty());
    EXPECT_TRUE(receiver->buttonHeld());
    EXPECT_EQ(receiver->bluetoothClient(), centralA);
}

TEST_F(ReceiverBluetoothTest, TransportStatus_StoredVerbatimInOrder) {
    std::vector<std::string> texts;
    run();
    receiver->addObserver([&](const PublishedChange& change) {
        if (change.field == PublishedField::bluetoothStatus) {
            texts.push_back(change.state.bluetoothStatus);
        }
    });

    peripheral().reportState(PeripheralState::poweredOff);
    peripheral().reportState(PeripheralState::undetermined);
    peripheral().reportState(PeripheralState::unauthorized);
    peripheral().reportState(PeripheralState::poweredOn);
    peripheral().reportServiceAdded(Error("Already registered"));
    run();

    EXPECT_EQ(texts, (std::vector<std::string>{"Bluetooth is off", "Bluetooth unavailable: 0",
                                               "Bluetooth access denied in System Settings",
                                               "Starting Bluetooth advertising…",
                                               "Bluetooth service failed: Already registered"}));
    EXPECT_EQ(receiver->status(), "Ready for pairing");
}

TEST_F(ReceiverBluetoothTest, Stop_WhileCentralAdmitted_NoDepartureAndTransportWithdrawn) {
    pair(centralA);
    write(centralA, holdWithCommand);
    auto& manager = peripheral();
    events->clear();
    std::vector<std::string> statuses;
    run();
    receiver->addObserver([&](const PublishedChange& change) {
        if (change.field == PublishedField::status) {
            statuses.push_back(change.state.status);
        }
    });

    receiver->stop();
    run();

    // One release, from stop itself; no second one and no new code from a departure.
    EXPECT_EQ(events->posted(), std::vector{releaseWithCommand});
    EXPECT_EQ(statuses, std::vector<std::string>{"Stopped"});
    EXPECT_EQ(receiver->code(), "");
    EXPECT_EQ(receiver->bluetoothStatus(), "Bluetooth stopped");
    EXPECT_FALSE(receiver->bluetoothClient());
    EXPECT_EQ(manager.stopAdvertisingCalls, 1);
    EXPECT_EQ(manager.removeAllServicesCalls, 1);

    // The old manager's late reports reach no one.
    run();
    notifications.clear();
    manager.reportState(PeripheralState::poweredOff);
    write(centralA, move1);
    unsubscribe(centralA);
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(movesPosted(), 0u);
}

TEST(ReceiverWithoutBluetooth, Start_ReportsUnavailableAndTcpRunsOn) {
    ReceiverHarness harness;
    harness.peripherals.reset();
    harness.build();
    harness.startReady();
    EXPECT_TRUE(harness.receiver->isRunning());
    EXPECT_EQ(harness.receiver->bluetoothStatus(), "Bluetooth LE peripheral mode unavailable");
    harness.connectAuthenticated();
    EXPECT_EQ(harness.receiver->status(), "Touch device connected");
    harness.receiver->stop();
    EXPECT_EQ(harness.receiver->bluetoothStatus(), "Bluetooth stopped");
}

} // namespace
} // namespace corvane::test
