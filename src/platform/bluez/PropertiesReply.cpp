#include "platform/bluez/PropertiesReply.h"

#include <QDBusVariant>

namespace corvane::bluez {

namespace {

QDBusMessage unknownInterface(const QDBusMessage& message, const QString& interface) {
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                    QStringLiteral("No such interface: ") + interface);
}

QDBusMessage answer(const QDBusMessage& message, const InterfaceProperties& interfaces) {
    const QVariantList arguments = message.arguments();
    const QString interface = arguments.value(0).toString();
    const QString member = message.member();
    if (member == QLatin1String("Set")) {
        return message.createErrorReply(
            QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
            QStringLiteral("Read-only property"));
    }
    const auto found = interfaces.constFind(interface);
    if (member == QLatin1String("GetAll")) {
        if (found == interfaces.constEnd()) {
            return unknownInterface(message, interface);
        }
        return message.createReply(QVariant::fromValue(*found));
    }
    if (member == QLatin1String("Get")) {
        if (found == interfaces.constEnd()) {
            return unknownInterface(message, interface);
        }
        const QString name = arguments.value(1).toString();
        const auto property = found->constFind(name);
        if (property == found->constEnd()) {
            return message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                QStringLiteral("No such property: ") + name);
        }
        return message.createReply(QVariant::fromValue(QDBusVariant(*property)));
    }
    return message.createErrorReply(QDBusError::UnknownMethod, member);
}

} // namespace

void answerProperties(const QDBusMessage& message, const QDBusConnection& bus,
                      const InterfaceProperties& interfaces) {
    bus.send(answer(message, interfaces));
}

QString introspectionOf(const InterfaceProperties& interfaces) {
    QString xml;
    for (auto it = interfaces.constBegin(); it != interfaces.constEnd(); ++it) {
        xml += QStringLiteral("<interface name=\"%1\"/>\n").arg(it.key());
    }
    return xml;
}

} // namespace corvane::bluez
