#include "platform/bluez/GattApplication.h"

#include "platform/bluez/PropertiesReply.h"

#include <utility>

namespace corvane {

using namespace bluez;

GattApplication::GattApplication(QString root, const ServiceDescription& description,
                                 Requests& requests)
    : root_(std::move(root)), service_(root_ + QStringLiteral("/service0"), description),
      requests_(requests) {
    characteristics_.reserve(description.characteristics.size());
    for (std::size_t i = 0; i < description.characteristics.size(); ++i) {
        characteristics_.emplace_back(service_.path() + QStringLiteral("/char%1").arg(i),
                                      QDBusObjectPath(service_.path()),
                                      description.characteristics[i]);
    }
}

ManagedObjects GattApplication::managedObjects() const {
    ManagedObjects objects;
    objects.insert(QDBusObjectPath(service_.path()), interfacesAt(service_.path()));
    for (const GattCharacteristic& characteristic : characteristics_) {
        objects.insert(QDBusObjectPath(characteristic.path()), interfacesAt(characteristic.path()));
    }
    return objects;
}

GattCharacteristic* GattApplication::characteristic(const BluetoothUUID& uuid) {
    for (GattCharacteristic& characteristic : characteristics_) {
        if (characteristic.uuid() == uuid) {
            return &characteristic;
        }
    }
    return nullptr;
}

void GattApplication::announce(const GattCharacteristic& characteristic,
                               const QDBusConnection& bus) const {
    auto signal = QDBusMessage::createSignal(characteristic.path(), propertiesInterface,
                                             QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(gattCharacteristicInterface)
           << QVariantMap{{QStringLiteral("NotifyAcquired"), characteristic.notifyAcquired()}}
           << QStringList{};
    bus.send(signal);
}

InterfaceProperties GattApplication::interfacesAt(const QString& path) const {
    if (path == service_.path()) {
        return {{gattServiceInterface, service_.properties()}};
    }
    for (const GattCharacteristic& characteristic : characteristics_) {
        if (path == characteristic.path()) {
            return {{gattCharacteristicInterface, characteristic.properties()}};
        }
    }
    return {};
}

QString GattApplication::introspect(const QString& path) const {
    if (path == root_) {
        return QStringLiteral("<interface name=\"%1\"/>\n").arg(objectManagerInterface);
    }
    return introspectionOf(interfacesAt(path));
}

bool GattApplication::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    const QString path = message.path();
    const QString interface = message.interface();
    if (path == root_ && message.member() == QLatin1String("GetManagedObjects") &&
        (interface.isEmpty() || interface == QLatin1String(objectManagerInterface))) {
        connection.send(message.createReply(QVariant::fromValue(managedObjects())));
        return true;
    }
    const InterfaceProperties interfaces = interfacesAt(path);
    if (interfaces.isEmpty()) {
        connection.send(message.createErrorReply(QDBusError::UnknownObject, path));
        return true;
    }
    if (interface == QLatin1String(propertiesInterface)) {
        answerProperties(message, connection, interfaces);
        return true;
    }
    for (GattCharacteristic& characteristic : characteristics_) {
        if (characteristic.path() == path) {
            handleCharacteristicCall(characteristic, message, connection);
            return true;
        }
    }
    connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
    return true;
}

void GattApplication::handleCharacteristicCall(GattCharacteristic& characteristic,
                                               const QDBusMessage& message,
                                               const QDBusConnection& connection) {
    const QString member = message.member();
    if (member == QLatin1String("WriteValue")) {
        requests_.writeValue(characteristic, message);
    } else if (member == QLatin1String("AcquireNotify") && characteristic.notifies()) {
        requests_.acquireNotify(characteristic, message);
    } else if (member == QLatin1String("ReadValue")) {
        connection.send(
            message.createErrorReply(errorNotPermitted, QStringLiteral("Not readable")));
    } else {
        connection.send(message.createErrorReply(errorNotSupported, member));
    }
}

} // namespace corvane
