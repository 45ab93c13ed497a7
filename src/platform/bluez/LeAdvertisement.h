#pragma once

#include "bluetooth/PeripheralManager.h"
#include "platform/bluez/DBusTypes.h"

#include <QDBusVirtualObject>

namespace corvane {

// The LEAdvertisement1 object that LEAdvertisingManager1 reads when we register it.
class LeAdvertisement : public QDBusVirtualObject {
public:
    LeAdvertisement(QString path, const AdvertisingData& data);

    const QString& path() const { return path_; }
    QVariantMap properties() const;
    // BlueZ dropped it by itself (Release); it needs no unregistering.
    bool released() const { return released_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QString path_;
    QStringList serviceUUIDs_;
    QString localName_;
    bool released_ = false;
};

} // namespace corvane
