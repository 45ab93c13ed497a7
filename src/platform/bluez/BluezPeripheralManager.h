#pragma once

#include "bluetooth/PeripheralManager.h"
#include "platform/bluez/AdapterWatcher.h"
#include "platform/bluez/GattApplication.h"
#include "platform/bluez/LeAdvertisement.h"
#include "platform/bluez/NotifySocket.h"
#include "platform/dbus/PendingCalls.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace corvane {

// A Bluetooth LE peripheral on BlueZ: our GATT application and advertisement are exported on
// the system bus and registered with the adapter's GattManager1 and LEAdvertisingManager1.
// Centrals are named after their BlueZ device objects. Every report is posted to the event loop.
//
// Subscriptions as BlueZ shows them: AcquireNotify subscribes the device it names and hands us
// a socket whose records BlueZ notifies. BlueZ 5.66 calls it only for the first device to
// subscribe a characteristic (later releases call it per device); the others share that socket
// unannounced, and BlueZ closes it once none is left. A bonded device keeps its subscription
// across a disconnection and is not announced again when it returns.
class BluezPeripheralManager final : public PeripheralManager,
                                     public GattApplication::Requests,
                                     public std::enable_shared_from_this<BluezPeripheralManager> {
    struct Key {
        explicit Key() = default;
    };

public:
    // `basePath` must be unique on the bus: our objects live below it.
    static std::shared_ptr<BluezPeripheralManager>
    create(QDBusConnection bus, QString basePath,
           std::weak_ptr<PeripheralManagerDelegate> delegate);

    BluezPeripheralManager(Key, QDBusConnection bus, QString basePath,
                           std::weak_ptr<PeripheralManagerDelegate> delegate);
    ~BluezPeripheralManager() override;
    BluezPeripheralManager(const BluezPeripheralManager&) = delete;
    BluezPeripheralManager& operator=(const BluezPeripheralManager&) = delete;

    // The stable name of the central behind a BlueZ device object.
    static CentralID centralFor(const QString& devicePath);

    void addService(const ServiceDescription& service) override;
    void startAdvertising(const AdvertisingData& data) override;
    void stopAdvertising() override;
    void removeAllServices() override;
    std::size_t maximumUpdateValueLength(const CentralID& central) override;
    bool updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                     const CentralID& central) override;
    void respond(const WriteRequest& request, AttResult result) override;

    void writeValue(const GattCharacteristic& characteristic, const QDBusMessage& call) override;
    void acquireNotify(GattCharacteristic& characteristic, const QDBusMessage& call) override;

private:
    using Report = std::function<void(PeripheralManagerDelegate&, PeripheralManager&)>;

    // A socket BlueZ notifies from, with the device it was acquired for.
    struct NotifyChannel {
        BluetoothUUID characteristic;
        CentralID acquirer;
        std::unique_ptr<NotifySocket> socket;
    };

    // A central we take as subscribed, and the channel its notifications leave through.
    struct Subscriber {
        BluetoothUUID characteristic;
        std::uint64_t channel = 0;
    };

    void start();
    void post(Report report);
    void adapterChanged(PeripheralState state, const QString& adapter);
    void deviceGone(const QString& device);
    void channelHungUp(std::uint64_t channel, const CentralID& keep = {});
    void dropChannelsOf(const CentralID& acquirer, const BluetoothUUID& characteristic);
    void subscribe(const CentralID& central, const BluetoothUUID& characteristic,
                   std::uint64_t channel);
    void unsubscribe(const CentralID& central);
    void adoptWriter(const CentralID& central);
    void learnMtu(const CentralID& central, const QVariantMap& options);
    void updateNotifyAcquired(const BluetoothUUID& characteristic);
    void reportAdvertising(std::optional<Error> error);
    void withdrawApplication();
    void callAdapter(const char* interface, const char* method, const QVariantList& arguments,
                     PendingCalls::Completion completion);
    template<class Work>
    void later(Work work);

    QDBusConnection bus_;
    QString basePath_;
    // Receiver of our own deferred work; whatever is queued for it dies with us.
    QObject context_;
    std::weak_ptr<PeripheralManagerDelegate> delegate_;
    PendingCalls calls_;
    std::unique_ptr<AdapterWatcher> watcher_;
    QString adapter_;
    std::unique_ptr<GattApplication> application_;
    std::unique_ptr<LeAdvertisement> advertisement_;
    std::uint64_t generation_ = 0;
    std::uint64_t advertisingGeneration_ = 0;
    std::uint64_t nextObject_ = 0;
    std::map<std::uint64_t, QDBusMessage> pendingWrites_;
    std::uint64_t nextWrite_ = 1;
    std::map<std::uint64_t, NotifyChannel> channels_;
    std::map<CentralID, Subscriber> subscribers_;
    std::uint64_t nextChannel_ = 1;
    std::map<CentralID, std::size_t> mtus_;
};

} // namespace corvane
