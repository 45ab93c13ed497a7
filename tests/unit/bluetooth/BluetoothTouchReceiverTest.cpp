#include "BluetoothTestFixture.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Lifecycle = BluetoothTest;
using Subscriptions = BluetoothTest;

TEST_F(Lifecycle, Start_Twice_MakesOneManagerAndReportsOnce) {
    transport->start();
    transport->start();

    EXPECT_EQ(factory->managers.size(), 1u);
    EXPECT_EQ(statuses, std::vector<std::string>{"Starting Bluetooth\u2026"});
}

TEST_F(Lifecycle, PoweredOn_PublishesServiceThenAdvertisesOnceAdded) {
    transport->start();
    auto& manager = factory->last();
    manager.reportState(PeripheralState::poweredOn);

    ASSERT_EQ(manager.addedServices.size(), 1u);
    const ServiceDescription expected{
        service,
        true,
        {{command, 0x08, 0x02}, {status, 0x10, 0}},
    };
    EXPECT_EQ(manager.addedServices.front(), expected);
    EXPECT_TRUE(manager.advertisements.empty()) << "advertising waits for the add to be confirmed";

    manager.reportServiceAdded();

    ASSERT_EQ(manager.advertisements.size(), 1u);
    EXPECT_EQ(manager.advertisements.front(), (AdvertisingData{{service}, "Corvane Mac"}));
    EXPECT_EQ(statuses, (std::vector<std::string>{"Starting Bluetooth\u2026",
                                                  "Starting Bluetooth advertising\u2026"}));
}

TEST_F(Lifecycle, StateReports_OtherThanPoweredOn_ReportTheirTexts) {
    transport->start();
    auto& manager = factory->last();
    statuses.clear();

    for (const auto raw : {0, 1, 2, 3, 4, 7}) {
        manager.reportState(static_cast<PeripheralState>(raw));
    }

    EXPECT_EQ(statuses, (std::vector<std::string>{
                            "Bluetooth unavailable: 0",
                            "Bluetooth unavailable: 1",
                            "Bluetooth LE peripheral mode unavailable",
                            "Bluetooth access denied in System Settings",
                            "Bluetooth is off",
                            "Bluetooth unavailable: 7",
                        }));
    EXPECT_TRUE(manager.addedServices.empty());
}

// A refused service or advertisement says why, and is tried again at the next power-on.
TEST_F(Lifecycle, ServiceOrAdvertisingRefused_ReportsWhyUntilThePowerComesBack) {
    transport->start();
    auto& manager = factory->last();
    manager.reportState(PeripheralState::poweredOn);

    manager.reportServiceAdded(Error("The operation couldn't be completed."));
    EXPECT_EQ(statuses.back(), "Bluetooth service failed: The operation couldn't be completed.");
    EXPECT_TRUE(manager.advertisements.empty());

    manager.reportState(PeripheralState::poweredOn);
    manager.reportServiceAdded();
    manager.reportAdvertisingStarted(Error("Maximum advertisements reached"));
    EXPECT_EQ(statuses.back(), "Bluetooth advertising failed: Maximum advertisements reached");

    manager.reportState(PeripheralState::poweredOn);
    manager.reportServiceAdded();
    manager.reportAdvertisingStarted();
    EXPECT_EQ(statuses.back(), "Starting Bluetooth advertising\u2026");
    EXPECT_EQ(manager.advertisements.size(), 2u);
}

TEST_F(Lifecycle, PowerCycle_KeepsServedCentralAndPublishesAFreshService) {
    auto& manager = serve("A");

    manager.reportState(PeripheralState::poweredOff);
    EXPECT_EQ(statuses.back(), "Bluetooth is off");
    EXPECT_EQ(transport->subscribedCentral(), "A");

    manager.reportState(PeripheralState::poweredOn);
    EXPECT_EQ(statuses.back(), "Starting Bluetooth advertising\u2026");
    EXPECT_EQ(manager.addedServices.size(), 2u);
    EXPECT_TRUE(disconnects.empty());
}

TEST_F(Lifecycle, Stop_WithSubscriber_WithdrawsEverythingAndCallsNothing) {
    replyRejected();
    auto& manager = serve("A");
    manager.capacity = 0;
    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n{\"kind\":\"cl");
    const auto statusCount = statuses.size();
    const auto messageCount = messages.size();

    transport->stop();

    EXPECT_EQ(manager.stopAdvertisingCalls, 1);
    EXPECT_EQ(manager.removeAllServicesCalls, 1);
    EXPECT_FALSE(transport->subscribedCentral());
    EXPECT_TRUE(disconnects.empty());
    EXPECT_EQ(statuses.size(), statusCount);
    EXPECT_EQ(messages.size(), messageCount);
}

TEST_F(Lifecycle, StopThenStart_NewManagerServesAndTheOldOnesReportsAreIgnored) {
    const Bytes click = "{\"kind\":\"click\"}\n";
    auto& old = serve("A");
    transport->stop();
    statuses.clear();
    transport->start();
    auto& current = factory->last();
    ASSERT_NE(&old, &current);
    EXPECT_EQ(statuses, std::vector<std::string>{"Starting Bluetooth\u2026"});

    old.reportState(PeripheralState::poweredOn);
    old.reportServiceAdded();
    old.subscribe("B", status);
    old.unsubscribe("A", status);
    old.reportReady();
    const auto id = old.write("B", command, click);

    EXPECT_EQ(statuses.size(), 1u);
    EXPECT_EQ(old.addedServices.size(), 1u);
    EXPECT_EQ(old.advertisements.size(), 1u);
    EXPECT_TRUE(disconnects.empty());
    EXPECT_FALSE(transport->subscribedCentral());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(old.resultsFor(id), std::vector{AttResult::writeNotPermitted});

    // The new session works on its own: B must subscribe through the current manager.
    current.reportState(PeripheralState::poweredOn);
    EXPECT_EQ(writeOnce(current, "B", click), AttResult::writeNotPermitted);
    current.reportServiceAdded();
    current.subscribe("B", status);
    EXPECT_EQ(writeOnce(current, "B", click), AttResult::success);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(Lifecycle, TransportReleased_ManagerReportsAreDropped) {
    auto& manager = serve("A");
    transport.reset();

    manager.unsubscribe("A", status);
    manager.write("A", command, Bytes("{\"kind\":\"click\"}\n"));

    EXPECT_TRUE(disconnects.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Subscriptions, SecondCentral_ReplacesFirstAndReportsItOnce) {
    replyRejected();
    auto& manager = serve("A");
    manager.capacity = 0;
    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n{\"kind\":\"mo");

    manager.subscribe("B", status);

    EXPECT_EQ(disconnects, std::vector<CentralID>{"A"});
    EXPECT_EQ(transport->subscribedCentral(), "B");
    EXPECT_EQ(writeOnce(manager, "A", "ve\"}\n"), AttResult::writeNotPermitted);

    manager.unsubscribe("A", status);

    EXPECT_EQ(disconnects, std::vector<CentralID>{"A"}) << "no second report for A";
    EXPECT_EQ(transport->subscribedCentral(), "B");
}

TEST_F(Subscriptions, SameCentralAgain_NoReportAndPartialLineDiscarded) {
    auto& manager = serve("A");
    writeOnce(manager, "A", "{\"kind\":");

    manager.subscribe("A", status);
    writeOnce(manager, "A", "{\"kind\":\"click\"}\n");

    EXPECT_TRUE(disconnects.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().first.kind, TouchMessage::Kind::click);
}

TEST_F(Subscriptions, CommandCharacteristic_IsIgnored) {
    auto& manager = serve("A");

    manager.subscribe("B", command);
    manager.unsubscribe("A", command);

    EXPECT_EQ(transport->subscribedCentral(), "A");
    EXPECT_TRUE(disconnects.empty());
}

TEST_F(Subscriptions, ServedCentralLeaves_ReportedAndItsChunksDropped) {
    replyRejected();
    auto& manager = serve("A");
    manager.maximumLengths["A"] = 4;
    manager.maximumLengths["B"] = 8;
    manager.capacity = 0;
    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");
    manager.subscribe("B", status);
    writeOnce(manager, "B", "{\"kind\":\"hello\"}\n");
    manager.subscribe("A", status);
    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");

    manager.unsubscribe("A", status);
    manager.capacity.reset();
    manager.reportReady();

    EXPECT_EQ(disconnects, (std::vector<CentralID>{"A", "B", "A"}));
    EXPECT_FALSE(transport->subscribedCentral());
    EXPECT_EQ(manager.receivedBy("A"), "");
    EXPECT_EQ(manager.receivedBy("B"), "{\"kind\":\"rejected\"}\n");
    EXPECT_EQ(manager.updates.size(), 3u) << "B's 20 bytes in chunks of 8";
}

} // namespace
} // namespace corvane
