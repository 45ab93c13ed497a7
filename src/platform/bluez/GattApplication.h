#pragma once

#include "bluetooth/PeripheralManager.h"
#include "platform/bluez/DBusTypes.h"
#include "platform/bluez/GattCharacteristic.h"
#include "platform/bluez/GattService.h"

#include <QDBusVirtualObject>
#include <vector>

namespace corvane {

// One GATT service exported as a BlueZ application: the root path carries the ObjectManager
// that BlueZ reads on RegisterApplication, the service and its characteristics sit below it.
class GattApplication : public QDBusVirtualObject {
public:
    // Receives the calls that need an answer from the peripheral; each must be replied to.
    class Requests {
    public:
        virtual ~Requests() = default;
        virtual void writeValue(const GattCharacteristic& characteristic,
                                const QDBusMessage& call) = 0;
        virtual void acquireNotify(GattCharacteristic& characteristic,
                                   const QDBusMessage& call) = 0;
    };

    GattApplication(QString root, const ServiceDescription& description, Requests& requests);

    const QString& path() const { return root_; }
    bluez::ManagedObjects managedObjects() const;
    GattCharacteristic* characteristic(const BluetoothUUID& uuid);
    // Tells BlueZ that a characteristic's NotifyAcquired changed.
    void announce(const GattCharacteristic& characteristic, const QDBusConnection& bus) const;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    bluez::InterfaceProperties interfacesAt(const QString& path) const;
    void handleCharacteristicCall(GattCharacteristic& characteristic, const QDBusMessage& message,
                                  const QDBusConnection& connection);

    QString root_;
    GattService service_;
    std::vector<GattCharacteristic> characteristics_;
    Requests& requests_;
};

} // namespace corvane
