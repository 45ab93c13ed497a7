// Drives the Bluetooth transport with arbitrary writes, subscriptions, stack refusals and restarts,
// and traps as soon as one of its promises breaks.

#include "bluetooth/BluetoothTouchReceiver.h"
#include "fakes/bluetooth/FakePeripheralManager.h"
#include "protocol/TouchService.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace {

using namespace corvane;

constexpr std::array<const char*, 3> centrals{"A", "B", "C"};

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

class Session {
public:
    explicit Session(FuzzedDataProvider& input) : input_(input) {
        transport_->onMessage = [this](const TouchMessage&, const CentralID& central) {
            check(!stopping_);
            check(transport_->subscribedCentral() == central);
            return replies_ ? std::optional(reply_) : std::nullopt;
        };
        transport_->onDisconnect = [this](const CentralID&) { check(!stopping_); };
        transport_->onStatus = [](const std::string&) {};
        reply_.kind = TouchMessage::Kind::rejected;
        transport_->start();
    }

    void step() {
        switch (input_.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            auto& target = manager();
            const CentralID who = central();
            subscribers_[&target].insert(who);
            target.subscribe(who, characteristic());
            break;
        }
        case 1:
            manager().unsubscribe(central(), characteristic());
            break;
        case 2:
        case 3:
            write();
            break;
        case 4:
            manager().capacity =
                input_.ConsumeBool()
                    ? std::nullopt
                    : std::optional(input_.ConsumeIntegralInRange<std::size_t>(0, 8));
            manager().reportReady();
            break;
        case 5:
            manager().maximumLengths[central()] = input_.ConsumeIntegralInRange<std::size_t>(0, 64);
            replies_ = input_.ConsumeBool();
            break;
        case 6:
            manager().reportState(
                static_cast<PeripheralState>(input_.ConsumeIntegralInRange(0, 6)));
            manager().reportServiceAdded();
            break;
        default:
            restart();
            break;
        }
        checkLimits();
    }

private:
    fakes::FakePeripheralManager& manager() {
        // Now and then a report comes from a manager the transport has let go.
        if (factory_->managers.size() > 1 && input_.ConsumeIntegralInRange(0, 15) == 0) {
            return *factory_->managers.front();
        }
        return factory_->last();
    }

    CentralID central() { return centrals[input_.ConsumeIntegralInRange<std::size_t>(0, 2)]; }

    BluetoothUUID characteristic() {
        return input_.ConsumeIntegralInRange(0, 7) == 0 ? command_ : status_;
    }

    void write() {
        auto& target = manager();
        std::vector<WriteRequest> requests;
        for (auto count = input_.ConsumeIntegralInRange(1, 4); count > 0; --count) {
            WriteRequest request{
                .id = nextId_++,
                .characteristic = input_.ConsumeIntegralInRange(0, 15) == 0 ? status_ : command_,
                .offset = input_.ConsumeIntegralInRange(0, 15) == 0 ? 1u : 0u,
                .value = std::nullopt,
                .central = central(),
            };
            if (input_.ConsumeIntegralInRange(0, 15) != 0) {
                const auto length = input_.ConsumeIntegralInRange<std::size_t>(0, 9000);
                request.value = input_.ConsumeBytesAsString(length);
            }
            requests.push_back(std::move(request));
        }
        const auto before = target.responses.size();
        target.write(requests);

        // Every request answered exactly once, in order.
        check(target.responses.size() == before + requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            check(target.responses[before + i].id == requests[i].id);
        }
    }

    void restart() {
        stopping_ = true;
        transport_->stop();
        stopping_ = false;
        transport_->start();
    }

    void checkLimits() {
        // A value never holds bytes of two reply lines, nor more than any central takes, and
        // goes only to a central that subscribed through that manager: nothing queued before a
        // stop leaks into the next session.
        for (const auto& manager : factory_->managers) {
            for (const auto& update : manager->updates) {
                check(!update.value.empty() && update.value.size() <= 182);
                check(update.value.find('\n') >= update.value.size() - 1);
                check(subscribers_[manager.get()].contains(update.central));
            }
            manager->updates.clear();
        }
    }

    FuzzedDataProvider& input_;
    std::shared_ptr<fakes::FakePeripheralManagerFactory> factory_ =
        std::make_shared<fakes::FakePeripheralManagerFactory>();
    std::shared_ptr<BluetoothTouchReceiver> transport_ = BluetoothTouchReceiver::create(factory_);
    const BluetoothUUID command_{TouchService::bluetoothCommandUUID};
    const BluetoothUUID status_{TouchService::bluetoothStatusUUID};
    TouchMessage reply_;
    std::map<const fakes::FakePeripheralManager*, std::set<CentralID>> subscribers_;
    bool replies_ = true;
    bool stopping_ = false;
    std::uint64_t nextId_ = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Session session(input);
    while (input.remaining_bytes() > 0) {
        session.step();
    }
    return 0;
}
