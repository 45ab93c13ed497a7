#pragma once

#include "bluetooth/PeripheralManager.h"

#include <QDBusObjectPath>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace corvane {

// A GattCharacteristic1 object of our application. Writes always go through WriteValue with a
// reply (no WriteAcquired), and a notifying one offers AcquireNotify (NotifyAcquired).
class GattCharacteristic {
public:
    GattCharacteristic(QString path, QDBusObjectPath service,
                       const CharacteristicDescription& description);

    const QString& path() const { return path_; }
    const BluetoothUUID& uuid() const { return uuid_; }
    bool notifies() const { return notifies_; }
    QVariantMap properties() const;

    bool notifyAcquired() const { return notifyAcquired_; }
    void setNotifyAcquired(bool acquired) { notifyAcquired_ = acquired; }

    // BlueZ's names for the GATT property bits.
    static QStringList flagsOf(std::uint32_t properties);

private:
    QString path_;
    QDBusObjectPath service_;
    BluetoothUUID uuid_;
    QStringList flags_;
    bool notifies_;
    bool notifyAcquired_ = false;
};

} // namespace corvane
