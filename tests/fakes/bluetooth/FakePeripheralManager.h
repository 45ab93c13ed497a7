#pragma once

#include "bluetooth/PeripheralManager.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
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

    explicit FakePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate)
        : delegate_(std::move(delegate)) {}

    // What the manager was asked to do.
    std::vector<ServiceDescription> addedServices;
    std::vector<AdvertisingData> advertisements;
    int stopAdvertisingCalls = 0;
    int removeAllServicesCalls = 0;
    std::vector<Update> updates;  // values the stack took
    std::vector<Update> refusals; // values it refused
    std::vector<Response> responses;

    // How the stack behaves.
    std::size_t defaultMaximumLength = 182;
    std::map<CentralID, std::size_t> maximumLengths;
    // How many more values the stack takes before its queue is full; unlimited when empty.
    std::optional<std::size_t> capacity;

    void addService(const ServiceDescription& service) override {
        addedServices.push_back(service);
    }
    void startAdvertising(const AdvertisingData& data) override { advertisements.push_back(data); }
    void stopAdvertising() override { ++stopAdvertisingCalls; }
    void removeAllServices() override { ++removeAllServicesCalls; }

    std::size_t maximumUpdateValueLength(const CentralID& central) override {
        const auto found = maximumLengths.find(central);
        return found == maximumLengths.end() ? defaultMaximumLength : found->second;
    }

    bool updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                     const CentralID& central) override {
        if (capacity == 0u) {
            refusals.push_back({value, characteristic, central});
            return false;
        }
        if (capacity) {
            --*capacity;
        }
        updates.push_back({value, characteristic, central});
        return true;
    }

    void respond(const WriteRequest& request, AttResult result) override {
        responses.push_back({request.id, result});
    }

    // Reports, delivered as the real stack would: only while the delegate lives.
    void reportState(PeripheralState state) {
        if (auto delegate = delegate_.lock()) {
            delegate->didUpdateState(*this, state);
        }
    }

    void reportServiceAdded(std::optional<Error> error = std::nullopt) {
        if (auto delegate = delegate_.lock()) {
            delegate->didAddService(*this, std::move(error));
        }
    }

    void reportAdvertisingStarted(std::optional<Error> error = std::nullopt) {
        if (auto delegate = delegate_.lock()) {
            delegate->didStartAdvertising(*this, std::move(error));
        }
    }

    void subscribe(const CentralID& central, const BluetoothUUID& characteristic) {
        if (auto delegate = delegate_.lock()) {
            delegate->didSubscribe(*this, central, characteristic);
        }
    }

    void unsubscribe(const CentralID& central, const BluetoothUUID& characteristic) {
        if (auto delegate = delegate_.lock()) {
            delegate->didUnsubscribe(*this, central, characteristic);
        }
    }

    void write(const std::vector<WriteRequest>& requests) {
        if (auto delegate = delegate_.lock()) {
            delegate->didReceiveWriteRequests(*this, requests);
        }
    }

    void reportReady() {
        if (auto delegate = delegate_.lock()) {
            delegate->isReadyToUpdateSubscribers(*this);
        }
    }

    // A single write with a fresh request id; returns the id.
    std::uint64_t write(const CentralID& central, const BluetoothUUID& characteristic,
                        std::optional<Bytes> value, std::size_t offset = 0) {
        const std::uint64_t id = nextRequestId_++;
        write({WriteRequest{id, characteristic, offset, std::move(value), central}});
        return id;
    }

    std::uint64_t nextRequestId() { return nextRequestId_++; }

    // The results given to request `id`, in the order they were given.
    std::vector<AttResult> resultsFor(std::uint64_t id) const {
        std::vector<AttResult> results;
        for (const Response& response : responses) {
            if (response.id == id) {
                results.push_back(response.result);
            }
        }
        return results;
    }

    // The values the stack took for one central, joined.
    Bytes receivedBy(const CentralID& central) const {
        Bytes joined;
        for (const Update& update : updates) {
            if (update.central == central) {
                joined += update.value;
            }
        }
        return joined;
    }

private:
    std::weak_ptr<PeripheralManagerDelegate> delegate_;
    std::uint64_t nextRequestId_ = 1;
};

// Makes fake managers and keeps each one, so a test can drive a manager the transport let go.
class FakePeripheralManagerFactory : public PeripheralManagerFactory {
public:
    std::vector<std::shared_ptr<FakePeripheralManager>> managers;

    std::shared_ptr<PeripheralManager>
    makePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate) override {
        managers.push_back(std::make_shared<FakePeripheralManager>(std::move(delegate)));
        return managers.back();
    }

    FakePeripheralManager& last() { return *managers.back(); }
};

} // namespace corvane::fakes
