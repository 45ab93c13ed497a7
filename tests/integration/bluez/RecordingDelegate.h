#pragma once

#include "bluetooth/PeripheralManager.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

// Logs every report; answers each write with `answer` (success unless told otherwise).
class RecordingDelegate : public PeripheralManagerDelegate {
public:
    std::vector<PeripheralState> states;
    std::vector<std::optional<Error>> added;
    std::vector<std::pair<CentralID, std::string>> subscribed;
    std::vector<std::pair<CentralID, std::string>> unsubscribed;
    std::vector<WriteRequest> writes;
    int readiness = 0;
    std::function<AttResult(const WriteRequest&)> answer = [](const WriteRequest&) {
        return AttResult::success;
    };

    void didUpdateState(PeripheralManager&, PeripheralState state) override {
        states.push_back(state);
    }
    void didAddService(PeripheralManager&, std::optional<Error> error) override {
        added.push_back(std::move(error));
    }
    void didSubscribe(PeripheralManager&, const CentralID& central,
                      const BluetoothUUID& characteristic) override {
        subscribed.emplace_back(central, characteristic.text());
    }
    void didUnsubscribe(PeripheralManager&, const CentralID& central,
                        const BluetoothUUID& characteristic) override {
        unsubscribed.emplace_back(central, characteristic.text());
    }
    void didReceiveWriteRequests(PeripheralManager& manager,
                                 const std::vector<WriteRequest>& requests) override {
        for (const WriteRequest& request : requests) {
            writes.push_back(request);
            manager.respond(request, answer(request));
        }
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override { ++readiness; }
};

} // namespace corvane::test
