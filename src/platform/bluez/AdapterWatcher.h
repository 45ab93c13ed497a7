#pragma once

#include "bluetooth/PeripheralManager.h"
#include "platform/bluez/DBusTypes.h"
#include "platform/dbus/PendingCalls.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace corvane {

// Follows BlueZ on the bus and the power of the adapter we use: org.bluez coming and going,
// adapters appearing and disappearing, the adapter's Powered, and devices disconnecting.
class AdapterWatcher : public QObject {
    Q_OBJECT

public:
    // A new state, with the adapter path when there is a usable adapter.
    using StateHandler = std::function<void(PeripheralState state, const QString& adapter)>;
    // A device disconnected or vanished.
    using DeviceHandler = std::function<void(const QString& device)>;

    AdapterWatcher(QDBusConnection bus, StateHandler onState, DeviceHandler onDeviceGone);
    ~AdapterWatcher() override;

    // Looks for the adapter and starts watching; the first state follows.
    void start();

    // What a failed call to BlueZ says about the radio.
    static PeripheralState stateFor(const QDBusError& error);
    // Our choice among BlueZ's objects: the first adapter that can both serve GATT and
    // advertise, with its state; unsupported when there is none.
    static std::pair<PeripheralState, QString> choose(const bluez::ManagedObjects& objects);

private slots:
    void propertiesChanged(const QDBusMessage& message);
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);

private:
    void refresh();
    void settle(PeripheralState state, const QString& adapter);

    QDBusConnection bus_;
    StateHandler onState_;
    DeviceHandler onDeviceGone_;
    QDBusServiceWatcher services_;
    PendingCalls calls_;
    std::uint64_t generation_ = 0;
    QString adapter_;
    std::optional<std::pair<PeripheralState, QString>> last_;
    bool watching_ = false;
};

} // namespace corvane
