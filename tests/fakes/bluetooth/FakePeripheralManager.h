#pragma once

#include "bluetooth/PeripheralManager.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::fakes {

// A peripheral manager that records every call and whose reports the test sends by hand.
class FakePeripheralManager : public PeripheralManager {
public:
    struct Update {
        Bytes value;
        BluetoothUUID characteristic;
        CentralID central;
    };

    struct Response {
        std::uint64_t id;
        AttResult result;
    };

    FakePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate,
                          std::shared_ptr<std::vector<std::string>> sharedLog)
        : log(std::move(sharedLog)), delegate_(std::move(delegate)) {}

    // Every call, as text, in order; shared by the managers of one factory.
    std::shared_ptr<std::vector<std::string>> log;
    int stopAdvertisingCalls = 0;
    int removeAllServicesCalls = 0;
    std::vector<Update> updates; // values the stack took
    std::vector<Response> responses;

    // How the stack behaves: the largest value per central (182 for others), and how many more
    // values it takes before its queue is full (unlimited when empty).
    std::map<CentralID, std::size_t> maximumLengths;
    std::optional<std::size_t> capacity;

    void addService(const ServiceDescription& service) override {
        std::string text =
            "addService " + service.uuid.text() + (service.primary ? " primary" : "");
        for (const auto& characteristic : service.characteristics) {
            text += " " + characteristic.uuid.text() + " " +
                    std::to_string(characteristic.properties) + "/" +
                    std::to_string(characteristic.permissions);
        }
        log->push_back(text);
    }
    void startAdvertising(const AdvertisingData& data) override {
        std::string text = "advertise";
        for (const auto& uuid : data.serviceUUIDs) {
            text += " " + uuid.text();
        }
        log->push_back(text + " as " + data.localName);
    }
    void stopAdvertising() override {
        ++stopAdvertisingCalls;
        log->push_back("stopAdvertising");
    }
    void removeAllServices() override {
        ++removeAllServicesCalls;
        log->push_back("removeAllServices");
    }
    std::size_t maximumUpdateValueLength(const CentralID& central) override {
        return maximumLengths.contains(central) ? maximumLengths.at(central) : 182;
    }
    bool updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                     const CentralID& central) override {
        const bool taken = capacity != 0u;
        log->push_back((taken ? "notify " : "refuse ") + central + " " + characteristic.text() +
                       " " + value);
        if (taken) {
            updates.push_back({value, characteristic, central});
            capacity = capacity ? std::optional(*capacity - 1) : std::nullopt;
        }
        return taken;
    }
    void respond(const WriteRequest& request, AttResult result) override {
        responses.push_back({request.id, result});
        log->push_back("answer " + std::to_string(static_cast<int>(result)));
    }

    // Reports, delivered as the real stack would: only while the delegate lives.
    void reportState(PeripheralState state) { report(&Delegate::didUpdateState, state); }
    void reportServiceAdded(std::optional<Error> error = {}) {
        report(&Delegate::didAddService, std::move(error));
    }
    void reportAdvertisingStarted(std::optional<Error> error = {}) {
        report(&Delegate::didStartAdvertising, std::move(error));
    }
    void subscribe(const CentralID& central, const BluetoothUUID& characteristic) {
        report(&Delegate::didSubscribe, central, characteristic);
    }
    void unsubscribe(const CentralID& central, const BluetoothUUID& characteristic) {
        report(&Delegate::didUnsubscribe, central, characteristic);
    }
    void write(const std::vector<WriteRequest>& requests) {
        report(&Delegate::didReceiveWriteRequests, requests);
    }
    void reportReady() { report(&Delegate::isReadyToUpdateSubscribers); }

    // A single write with a fresh request id; returns the id.
    std::uint64_t write(const CentralID& central, const BluetoothUUID& characteristic,
                        std::optional<Bytes> value, std::size_t offset = 0) {
        const std::uint64_t id = nextRequestId++;
        write({WriteRequest{id, characteristic, offset, std::move(value), central}});
        return id;
    }

    // The values the stack took for one central, joined.
    Bytes receivedBy(const CentralID& central) const {
        Bytes joined;
        for (const Update& update : updates) {
            joined += update.central == central ? update.value : Bytes();
        }
        return joined;
    }

    std::uint64_t nextRequestId = 1;

private:
    using Delegate = PeripheralManagerDelegate;

    template<typename... Parameters, typename... Arguments>
    void report(void (Delegate::*call)(PeripheralManager&, Parameters...),
                Arguments&&... arguments) {
        if (auto delegate = delegate_.lock()) {
            ((*delegate).*call)(*this, std::forward<Arguments>(arguments)...);
        }
    }

    std::weak_ptr<PeripheralManagerDelegate> delegate_;
};

// Makes fake managers and keeps each one, so a test can drive a manager the transport let go.
class FakePeripheralManagerFactory : public PeripheralManagerFactory {
public:
    std::vector<std::shared_ptr<FakePeripheralManager>> managers;
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();

    std::shared_ptr<PeripheralManager>
    makePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate) override {
        managers.push_back(std::make_shared<FakePeripheralManager>(std::move(delegate), log));
        return managers.back();
    }

    FakePeripheralManager& last() { return *managers.back(); }
};

} // namespace corvane::fakes
