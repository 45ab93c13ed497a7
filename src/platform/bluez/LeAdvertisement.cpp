#include "platform/bluez/LeAdvertisement.h"

#include "platform/bluez/PropertiesReply.h"

#include <utility>

namespace corvane {

using namespace bluez;

LeAdvertisement::LeAdvertisement(QString path, const AdvertisingData& data)
    : path_(std::move(path)), localName_(QString::fromStdString(data.localName)) {
    for (const BluetoothUUID& uuid : data.serviceUUIDs) {
        serviceUUIDs_ << QString::fromStdString(uuid.text()).toLower();
    }
}

QVariantMap LeAdvertisement::properties() const {
    return {
        {QStringLiteral("Type"), QStringLiteral("peripheral")},
        {QStringLiteral("ServiceUUIDs"), serviceUUIDs_},
        {QStringLiteral("LocalName"), localName_},
    };
}

QString LeAdvertisement::introspect(const QString&) const {
    return introspectionOf({{advertisementInterface, properties()}});
}

bool LeAdvertisement::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    if (message.path() != path_) {
        connection.send(message.createErrorReply(QDBusError::UnknownObject, message.path()));
    } else if (message.interface() == QLatin1String(propertiesInterface)) {
        answerProperties(message, connection, {{advertisementInterface, properties()}});
    } else if (message.member() == QLatin1String("Release")) {
        released_ = true;
        connection.send(message.createReply());
    } else {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
    }
    return true;
}

} // namespace corvane
