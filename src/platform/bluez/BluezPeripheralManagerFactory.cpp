#include "platform/bluez/BluezPeripheralManagerFactory.h"

#include "platform/bluez/BluezPeripheralManager.h"

#include <QUuid>

namespace corvane {

BluezPeripheralManagerFactory::BluezPeripheralManagerFactory(QDBusConnection bus)
    : bus_(std::move(bus)) {}

std::shared_ptr<PeripheralManager> BluezPeripheralManagerFactory::makePeripheralManager(
    std::weak_ptr<PeripheralManagerDelegate> delegate) {
    // A manager let go may still be unregistering; its successor must not reuse its paths.
    const QString base =
        QStringLiteral("/org/corvane/peripheral_") + QUuid::createUuid().toString(QUuid::Id128);
    return BluezPeripheralManager::create(bus_, base, std::move(delegate));
}

} // namespace corvane
