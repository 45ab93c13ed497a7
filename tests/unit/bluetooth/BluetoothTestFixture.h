#pragma once

#include "bluetooth/BluetoothTouchReceiver.h"
#include "fakes/bluetooth/FakePeripheralManager.h"
#include "protocol/TouchService.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

// A transport wired to a fake manager, with every callback recorded.
class BluetoothTest : public ::testing::Test {
protected:
    using Reply = std::function<std::optional<TouchMessage>(const TouchMessage&, const CentralID&)>;

    const BluetoothUUID command{TouchService::bluetoothCommandUUID};
    const BluetoothUUID status{TouchService::bluetoothStatusUUID};
    const BluetoothUUID service{TouchService::bluetoothServiceUUID};

    std::shared_ptr<fakes::FakePeripheralManagerFactory> factory =
        std::make_shared<fakes::FakePeripheralManagerFactory>();
    std::shared_ptr<BluetoothTouchReceiver> transport = BluetoothTouchReceiver::create(factory);

    std::vector<std::string> statuses;
    std::vector<CentralID> disconnects;
    std::vector<std::pair<TouchMessage, CentralID>> messages;
    Reply reply = [](const TouchMessage&, const CentralID&) { return std::nullopt; };

    void SetUp() override {
        transport->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        transport->onDisconnect = [this](const CentralID& central) {
            disconnects.push_back(central);
        };
        transport->onMessage = [this](const TouchMessage& message, const CentralID& central) {
            messages.emplace_back(message, central);
            return reply(message, central);
        };
    }

    // Started, powered on, service added: ready for centrals.
    fakes::FakePeripheralManager& advertise() {
        transport->start();
        auto& manager = factory->last();
        manager.reportState(PeripheralState::poweredOn);
        manager.reportServiceAdded();
        return manager;
    }

    fakes::FakePeripheralManager& serve(const CentralID& central) {
        auto& manager = advertise();
        manager.subscribe(central, status);
        return manager;
    }

    AttResult writeOnce(fakes::FakePeripheralManager& manager, const CentralID& central,
                        const Bytes& value, std::size_t offset = 0) {
        const auto id = manager.write(central, command, value, offset);
        const auto results = manager.resultsFor(id);
        EXPECT_EQ(results.size(), 1u) << "each request is answered exactly once";
        return results.empty() ? AttResult::success : results.front();
    }

    // Every message is answered with a rejection, which gives the transport a reply to send.
    void replyRejected() {
        reply = [](const TouchMessage&, const CentralID&) {
            return withKind(TouchMessage::Kind::rejected);
        };
    }

    static TouchMessage move(double dx, double dy) {
        TouchMessage message;
        message.kind = TouchMessage::Kind::move;
        message.dx = dx;
        message.dy = dy;
        return message;
    }

    static TouchMessage withKind(TouchMessage::Kind kind) {
        TouchMessage message;
        message.kind = kind;
        return message;
    }
};

} // namespace corvane
