#pragma once

#include "receiver/Listener.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvane::test {

// A listener the test drives: it records its service and lets the test report states and hand
// over new connections, as the handlers the receiver set.
class FakeListener : public Listener {
public:
    explicit FakeListener(std::uint16_t listeningPort) : port(listeningPort) {}

    void setService(AdvertisedService value) override { service = std::move(value); }
    void setStateHandler(StateHandler handler) override { reportState_ = std::move(handler); }
    void setNewConnectionHandler(NewConnectionHandler handler) override {
        deliverConnection = std::move(handler);
    }
    void setAdvertisingHandler(AdvertisingHandler handler) override {
        reportAdvertising = std::move(handler);
    }
    void start() override { ++starts; }
    void cancel() override { ++cancels; }

    void reportState(ListenerState state, std::optional<Error> error = std::nullopt) {
        reportState_(state, std::move(error));
    }

    std::uint16_t port;
    std::optional<AdvertisedService> service;
    AdvertisingHandler reportAdvertising;
    NewConnectionHandler deliverConnection;
    int starts = 0;
    int cancels = 0;

private:
    StateHandler reportState_;
};

// Makes FakeListeners and keeps them for the test; can be told to fail the next creations.
class FakeListenerFactory : public ListenerFactory {
public:
    std::expected<std::shared_ptr<Listener>, Error> makeListener(std::uint16_t port) override {
        if (failure) {
            return std::unexpected(*failure);
        }
        return listeners.emplace_back(std::make_shared<FakeListener>(port));
    }

    std::shared_ptr<FakeListener> last() const {
        return listeners.empty() ? nullptr : listeners.back();
    }

    std::optional<Error> failure;
    std::vector<std::shared_ptr<FakeListener>> listeners;
};

} // namespace corvane::test
