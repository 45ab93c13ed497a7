#pragma once

#include "bluetooth/PeripheralManager.h"

#include <QDBusConnection>

namespace corvane {

// Makes peripheral managers that talk to BlueZ on `bus` (the system bus, which
// DBUS_SYSTEM_BUS_ADDRESS may point elsewhere). Needs a running QCoreApplication.
class BluezPeripheralManagerFactory final : public PeripheralManagerFactory {
public:
    explicit BluezPeripheralManagerFactory(QDBusConnection bus = QDBusConnection::systemBus());

    std::shared_ptr<PeripheralManager>
    makePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate) override;

private:
    QDBusConnection bus_;
};

} // namespace corvane
