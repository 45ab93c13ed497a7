#pragma once

#include "bluetooth/BluetoothUUID.h"
#include "bluetooth/NotificationQueue.h"
#include "bluetooth/PeripheralManager.h"
#include "bluetooth/WriteBuffers.h"
#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The Bluetooth LE transport: a GATT peripheral whose command characteristic takes protocol lines
// from the one subscribed central and whose status characteristic notifies the replies. Pairing
// and input stay with the owner, which learns of messages, departures and the radio's state
// through the three callbacks. Start and stop as often as needed; each start makes a new manager.
class BluetoothTouchReceiver : public PeripheralManagerDelegate,
                               public std::enable_shared_from_this<BluetoothTouchReceiver> {
    struct Token {
        explicit Token() = default;
    };

public:
    // A decoded message from the subscribed central; a returned message goes back to it.
    using MessageHandler =
        std::function<std::optional<TouchMessage>(const TouchMessage& message, const CentralID&)>;
    // A central that stopped being the subscribed one, by unsubscribing or by being replaced.
    using DisconnectHandler = std::function<void(const CentralID&)>;
    // A status line for the window.
    using StatusHandler = std::function<void(const std::string& text)>;

    // The manager holds the transport weakly, so it always lives in a shared_ptr.
    static std::shared_ptr<BluetoothTouchReceiver>
    create(std::shared_ptr<PeripheralManagerFactory> managers);
    BluetoothTouchReceiver(Token, std::shared_ptr<PeripheralManagerFactory> managers);

    MessageHandler onMessage;
    DisconnectHandler onDisconnect;
    StatusHandler onStatus;

    // Reports "Starting Bluetooth…" and makes a manager; nothing when already started.
    void start();
    // Withdraws the service and forgets every central, buffer and queued notification; reports
    // from the old manager are ignored from then on. Calls no callback.
    void stop();

    const std::optional<CentralID>& subscribedCentral() const { return subscribed_; }

    void didUpdateState(PeripheralManager& manager, PeripheralState state) override;
    void didAddService(PeripheralManager& manager, std::optional<Error> error) override;
    void didStartAdvertising(PeripheralManager& manager, std::optional<Error> error) override;
    void didSubscribe(PeripheralManager& manager, const CentralID& central,
                      const BluetoothUUID& characteristic) override;
    void didUnsubscribe(PeripheralManager& manager, const CentralID& central,
                        const BluetoothUUID& characteristic) override;
    void didReceiveWriteRequests(PeripheralManager& manager,
                                 const std::vector<WriteRequest>& requests) override;
    void isReadyToUpdateSubscribers(PeripheralManager& manager) override;

private:
    bool isCurrent(const PeripheralManager& manager) const;
    ServiceDescription service() const;
    AttResult handleWrite(const PeripheralManager& manager, const WriteRequest& request);
    void deliver(const PeripheralManager& manager, const Bytes& line, const CentralID& central);
    void notify(const Bytes& bytes, const CentralID& central);
    void flushNotifications();
    void report(const std::string& text) const;
    void reportDisconnect(const CentralID& central) const;

    std::shared_ptr<PeripheralManagerFactory> managers_;
    const BluetoothUUID serviceID_;
    const BluetoothUUID commandID_;
    const BluetoothUUID statusID_;
    std::shared_ptr<PeripheralManager> manager_;
    std::optional<BluetoothUUID> statusCharacteristic_;
    std::optional<CentralID> subscribed_;
    WriteBuffers buffers_;
    NotificationQueue pending_;
    TouchMessageDecoder decoder_;
};

} // namespace corvane
