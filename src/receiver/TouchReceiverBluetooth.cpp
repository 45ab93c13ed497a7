#include "bluetooth/BluetoothTouchReceiver.h"
#include "receiver/TouchReceiver.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace corvane {

namespace {

// What the transport itself reports for a radio without peripheral mode; a build without a
// Bluetooth stack is no different to the user.
constexpr const char* unavailableText = "Bluetooth LE peripheral mode unavailable";

} // namespace

void TouchReceiver::startBluetooth() {
    if (!platform_.bluetooth) {
        setBluetoothStatus(unavailableText);
        return;
    }
    bluetoothReceiver_ = BluetoothTouchReceiver::create(platform_.bluetooth);
    installBluetoothHandlers(bluetoothReceiver_);
    bluetoothReceiver_->start();
}

void TouchReceiver::stopBluetooth() {
    // The transport's stop calls nothing back, so the admitted central leaves without
    // disconnectBluetooth: stop has already released the button and cleared the modifiers.
    if (const auto transport = std::exchange(bluetoothReceiver_, nullptr)) {
        transport->stop();
    }
    bluetoothClient_.reset();
}

bool TouchReceiver::isBluetoothReceiver(
    const std::shared_ptr<BluetoothTouchReceiver>& transport) const {
    return transport && transport == bluetoothReceiver_;
}

void TouchReceiver::installBluetoothHandlers(
    const std::shared_ptr<BluetoothTouchReceiver>& transport) {
    // The transport owns these handlers, so they hold it weakly; a transport this receiver has
    // let go has nothing more to say to it.
    const std::weak_ptr<BluetoothTouchReceiver> source = transport;
    transport->onMessage = [weak = weak_from_this(),
                            source](const TouchMessage& message,
                                    const CentralID& central) -> std::optional<TouchMessage> {
        const auto self = weak.lock();
        if (!self || !self->isBluetoothReceiver(source.lock())) {
            return std::nullopt;
        }
        return self->consumeBluetooth(message, central);
    };
    transport->onDisconnect = [weak = weak_from_this(), source](const CentralID& central) {
        const auto self = weak.lock();
        if (self && self->isBluetoothReceiver(source.lock())) {
            self->disconnectBluetooth(central);
        }
    };
    transport->onStatus = [weak = weak_from_this(), source](const std::string& text) {
        const auto self = weak.lock();
        if (self && self->isBluetoothReceiver(source.lock())) {
            self->setBluetoothStatus(text);
        }
    };
}

void TouchReceiver::setBluetoothStatus(std::string value) {
    publish(&PublishedState::bluetoothStatus, std::move(value), PublishedField::bluetoothStatus);
}

std::optional<TouchMessage> TouchReceiver::consumeBluetooth(const TouchMessage& message,
                                                            const CentralID& central) {
    if (message.kind == TouchMessage::Kind::hello) {
        return consumeBluetoothHello(message, central);
    }
    // Unlike TCP, missing trust neither ends the stay nor shows a status: the input waits for
    // the user to grant access again.
    if (bluetoothClient_ == central && platform_.trust->isTrusted()) {
        injector_.applyInput(message);
    }
    return std::nullopt;
}

std::optional<TouchMessage> TouchReceiver::consumeBluetoothHello(const TouchMessage& hello,
                                                                 const CentralID& central) {
    // The slot is taken, even by this very central; a stopped receiver admits no one.
    if (bluetoothClient_ || !isRunning()) {
        record(ClientEvent::refused, Transport::bluetooth, central);
        return rejectedReply();
    }
    auto admitted = acceptHello(hello);
    if (!admitted) {
        record(admitted.error(), Transport::bluetooth, central);
        retireGuessedCode();
        return rejectedReply();
    }
    record(admitted->event, Transport::bluetooth, central);
    // Taking the slot from a TCP client is not that client leaving: the code stays as it is, and
    // its late reports are ignored as it is no longer `client_`. Its held button and modifier
    // keys are let go all the same, or the central's moves would drag and its clicks carry them.
    recordTcpDeparture();
    if (auto connection = std::exchange(client_, nullptr)) {
        connection->cancel();
        releaseInputState();
    }
    authenticated_ = false;
    buffer_.clear();
    bluetoothClient_ = central;
    setStatus("Touch device connected over Bluetooth");
    return admitted->reply;
}

void TouchReceiver::disconnectBluetooth(const CentralID& central) {
    if (bluetoothClient_ != central) {
        return;
    }
    record(ClientEvent::left, Transport::bluetooth, central);
    bluetoothClient_.reset();
    authenticated_ = false;
    releaseInputState();
    if (isRunning() && drawNewCode()) {
        setStatus("Ready for pairing");
    }
}

} // namespace corvane
