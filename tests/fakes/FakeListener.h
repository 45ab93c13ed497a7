#pragma once

#include "receiver/Listener.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvane::test {

// A listener the test drives: it records its service and lets the test report states and hand
// over new connections.
class FakeListener : public Listener {
public:
    explicit FakeListener(std::uint16_t port) : port_(port) {}

    void setService(AdvertisedService service) override { service_ = std::move(service); }
    void setStateHandler(StateHandler handler) override { stateHandler_ = std::move(handler); }
    void setNewConnectionHandler(NewConnectionHandler handler) override {
        connectionHandler_ = std::move(handler);
    }
    void setAdvertisingHandler(AdvertisingHandler handler) override {
        advertisingHandler_ = std::move(handler);
    }
    void start() override { ++startCount_; }
    void cancel() override { ++cancelCount_; }

    bool reportState(ListenerState state, std::optional<Error> error = std::nullopt) {
        if (!stateHandler_) {
            return false;
        }
        stateHandler_(state, std::move(error));
        return true;
    }

    bool reportAdvertising(std::optional<Error> problem) {
        if (!advertisingHandler_) {
            return false;
        }
        advertisingHandler_(std::move(problem));
        return true;
    }

    bool deliverConnection(std::shared_ptr<Connection> connection) {
        if (!connectionHandler_) {
            return false;
        }
        connectionHandler_(std::move(connection));
        return true;
    }

    std::uint16_t port() const { return port_; }
    const std::optional<AdvertisedService>& service() const { return service_; }
    int startCount() const { return startCount_; }
    int cancelCount() const { return cancelCount_; }

private:
    std::uint16_t port_;
    std::optional<AdvertisedService> service_;
    StateHandler stateHandler_;
    NewConnectionHandler connectionHandler_;
    AdvertisingHandler advertisingHandler_;
    int startCount_ = 0;
    int cancelCount_ = 0;
};

// Makes FakeListeners and keeps them for the test; can be told to fail the next creations.
class FakeListenerFactory : public ListenerFactory {
public:
    std::expected<std::shared_ptr<Listener>, Error> makeListener(std::uint16_t port) override {
        if (failure) {
            return std::unexpected(*failure);
        }
        auto listener = std::make_shared<FakeListener>(port);
        listeners.push_back(listener);
        return listener;
    }

    std::shared_ptr<FakeListener> last() const {
        return listeners.empty() ? nullptr : listeners.back();
    }

    std::optional<Error> failure;
    std::vector<std::shared_ptr<FakeListener>> listeners;
};

} // namespace corvane::test
