#include "bluetooth/BluetoothTouchReceiver.h"

#include "protocol/TouchService.h"

#include <string>
#include <utility>

namespace corvane {

namespace {

constexpr const char* localName = "Corvane Mac";

std::string stateText(PeripheralState state) {
    switch (state) {
    case PeripheralState::unsupported:
        return "Bluetooth LE peripheral mode unavailable";
    case PeripheralState::unauthorized:
        return "Bluetooth access denied in System Settings";
    case PeripheralState::poweredOff:
        return "Bluetooth is off";
    default:
        return "Bluetooth unavailable: " + std::to_string(std::to_underlying(state));
    }
}

} // namespace

std::shared_ptr<BluetoothTouchReceiver>
BluetoothTouchReceiver::create(std::shared_ptr<PeripheralManagerFactory> managers) {
    return std::make_shared<BluetoothTouchReceiver>(Token{}, std::move(managers));
}

BluetoothTouchReceiver::BluetoothTouchReceiver(Token,
                                               std::shared_ptr<PeripheralManagerFactory> managers)
    : managers_(std::move(managers)), serviceID_(TouchService::bluetoothServiceUUID),
      commandID_(TouchService::bluetoothCommandUUID), statusID_(TouchService::bluetoothStatusUUID) {
}

void BluetoothTouchReceiver::start() {
    if (manager_) {
        return;
    }
    // The manager reports nothing before this returns, so making it before the first status is
    // unobservable, and a status handler that stops or restarts us finds a consistent state.
    manager_ = managers_->makePeripheralManager(weak_from_this());
    report("Starting Bluetooth…");
}

void BluetoothTouchReceiver::stop() {
    if (const auto manager = std::exchange(manager_, nullptr)) {
        manager->stopAdvertising();
        manager->removeAllServices();
    }
    statusCharacteristic_.reset();
    subscribed_.reset();
    buffers_.clear();
    pending_.clear();
}

bool BluetoothTouchReceiver::isCurrent(const PeripheralManager& manager) const {
    return manager_.get() == &manager;
}

ServiceDescription BluetoothTouchReceiver::service() const {
    return ServiceDescription{
        .uuid = serviceID_,
        .primary = true,
        .characteristics =
            {
                {commandID_, CharacteristicProperty::write, AttributePermission::writeable},
                {statusID_, CharacteristicProperty::notify, 0},
            },
    };
}

void BluetoothTouchReceiver::didUpdateState(PeripheralManager& manager, PeripheralState state) {
    if (!isCurrent(manager)) {
        return;
    }
    if (state != PeripheralState::poweredOn) {
        report(stateText(state));
        return;
    }
    report("Starting Bluetooth advertising…");
    if (!isCurrent(manager)) {
        return;
    }
    statusCharacteristic_ = statusID_;
    manager.addService(service());
}

void BluetoothTouchReceiver::didAddService(PeripheralManager& manager, std::optional<Error> error) {
    if (!isCurrent(manager)) {
        return;
    }
    if (error) {
        report("Bluetooth service failed: " + error->description());
        return;
    }
    manager.startAdvertising(AdvertisingData{{serviceID_}, localName});
}

// Like a failed service, a failed advertisement waits for the next powered-on report: the stack
// refuses for reasons (no free advertising slot, a daemon going away) that our retrying at once
// would not change.
void BluetoothTouchReceiver::didStartAdvertising(PeripheralManager& manager,
                                                 std::optional<Error> error) {
    if (isCurrent(manager) && error) {
        report("Bluetooth advertising failed: " + error->description());
    }
}

// Reports from a manager we have let go are ignored: its centrals belong to a stopped session,
// and acting on them would hand messages or departures to an owner that has moved on.
void BluetoothTouchReceiver::didSubscribe(PeripheralManager& manager, const CentralID& central,
                                          const BluetoothUUID& characteristic) {
    if (!isCurrent(manager) || characteristic != statusID_) {
        return;
    }
    if (subscribed_ && *subscribed_ != central) {
        const CentralID previous = *subscribed_;
        // Its writes are refused from now on and a new subscription starts it afresh, so its
        // partial line can never complete; keep no dead bytes for it.
        buffers_.remove(previous);
        reportDisconnect(previous);
        if (!isCurrent(manager)) {
            return;
        }
    }
    subscribed_ = central;
    buffers_.reset(central);
}

void BluetoothTouchReceiver::didUnsubscribe(PeripheralManager& manager, const CentralID& central,
                                            const BluetoothUUID& characteristic) {
    if (!isCurrent(manager) || characteristic != statusID_) {
        return;
    }
    buffers_.remove(central);
    pending_.drop(central);
    if (subscribed_ == central) {
        subscribed_.reset();
        reportDisconnect(central);
    }
}

void BluetoothTouchReceiver::didReceiveWriteRequests(PeripheralManager& manager,
                                                     const std::vector<WriteRequest>& requests) {
    // A callback may stop us mid-delivery; the manager must outlive the answers it still owes.
    const auto keepAlive = isCurrent(manager) ? manager_ : nullptr;
    for (const WriteRequest& request : requests) {
        manager.respond(request, handleWrite(manager, request));
    }
}

AttResult BluetoothTouchReceiver::handleWrite(const PeripheralManager& manager,
                                              const WriteRequest& request) {
    if (!isCurrent(manager) || request.characteristic != commandID_ || request.offset != 0) {
        return AttResult::writeNotPermitted;
    }
    if (subscribed_ != request.central || !request.value) {
        return AttResult::writeNotPermitted;
    }
    auto lines = buffers_.append(request.central, *request.value);
    if (!lines) {
        return AttResult::invalidAttributeValueLength;
    }
    for (const Bytes& line : *lines) {
        deliver(manager, line, request.central);
        if (!isCurrent(manager)) {
            break;
        }
    }
    return AttResult::success;
}

void BluetoothTouchReceiver::deliver(const PeripheralManager& manager, const Bytes& line,
                                     const CentralID& central) {
    auto message = decoder_.decode(line);
    if (!message || !onMessage) {
        return;
    }
    const auto handler = onMessage;
    const auto reply = handler(*message, central);
    if (!reply || !isCurrent(manager)) {
        return;
    }
    if (const auto bytes = reply->line()) {
        notify(*bytes, central);
    }
}

void BluetoothTouchReceiver::notify(const Bytes& bytes, const CentralID& central) {
    pending_.enqueue(bytes, central, manager_->maximumUpdateValueLength(central));
    flushNotifications();
}

void BluetoothTouchReceiver::flushNotifications() {
    if (!manager_ || !statusCharacteristic_) {
        return;
    }
    pending_.flush([this](const Bytes& value, const CentralID& central) {
        return manager_->updateValue(value, *statusCharacteristic_, central);
    });
}

void BluetoothTouchReceiver::isReadyToUpdateSubscribers(PeripheralManager& manager) {
    if (isCurrent(manager)) {
        flushNotifications();
    }
}

void BluetoothTouchReceiver::report(const std::string& text) const {
    if (onStatus) {
        const auto handler = onStatus;
        handler(text);
    }
}

void BluetoothTouchReceiver::reportDisconnect(const CentralID& central) const {
    if (onDisconnect) {
        const auto handler = onDisconnect;
        handler(central);
    }
}

} // namespace corvane
