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

// BlueZ sets the LE General Discoverable flag on its own only while the adapter itself is
// discoverable, which it is not by default; without the flag, phones scanning for new devices
// may pass us by. Asking for it costs the flags' three bytes of the 31 a legacy advertisement
// holds; BlueZ puts the local name in the scan response, which has 31 bytes of its own.
QVariantMap LeAdvertisement::properties() const {
    return {
        {QStringLiteral("Type"), QStringLiteral("peripheral")},
        {QStringLiteral("ServiceUUIDs"), serviceUUIDs_},
        {QStringLiteral("LocalName"), localName_},
        {QStringLiteral("Discoverable"), true},
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
