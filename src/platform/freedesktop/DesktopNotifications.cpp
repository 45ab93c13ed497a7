#include "platform/freedesktop/DesktopNotifications.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace corvane {

namespace {

// "192.0.2.7:50412" or "[2001:db8::7]:50412" without the port, which says nothing to the user.
std::string hostOf(const std::string& peer) {
    const auto colon = peer.rfind(':');
    std::string host = colon == std::string::npos ? peer : peer.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

// Bluetooth centrals are named by an identifier that means nothing to the user.
std::string whereFrom(const ClientActivity& activity) {
    return activity.transport == Transport::bluetooth ? "over Bluetooth"
                                                      : "from " + hostOf(activity.peer);
}

QString categoryOf(ClientEvent event) {
    switch (event) {
    case ClientEvent::pairedWithCode:
    case ClientEvent::admittedWithToken:
        return QStringLiteral("device.added");
    default:
        return QStringLiteral("device.removed");
    }
}

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus) : bus_(std::move(bus)) {}

std::optional<NotificationText> DesktopNotifications::textFor(const ClientActivity& activity) {
    const std::string where = whereFrom(activity);
    switch (activity.event) {
    case ClientEvent::pairedWithCode:
        return NotificationText{"New device paired",
                                "A phone or tablet paired with this computer " + where +
                                    ". If that was not you, choose Forget Paired Devices in "
                                    "Corvane.",
                                false};
    case ClientEvent::admittedWithToken:
        return NotificationText{"Device connected",
                                "A paired phone or tablet connected " + where + ".", true};
    case ClientEvent::left:
        return NotificationText{"Device disconnected",
                                "The phone or tablet connected " + where + " has left.", true};
    case ClientEvent::refused:
    case ClientEvent::admittedWithCode:
    case ClientEvent::rejected:
    case ClientEvent::budgetSpent:
        return std::nullopt;
    }
    return std::nullopt;
}

void DesktopNotifications::record(const ClientActivity& activity) {
    const auto text = textFor(activity);
    if (!text) {
        return;
    }
    auto notify = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                 QStringLiteral("/org/freedesktop/Notifications"),
                                                 QStringLiteral("org.freedesktop.Notifications"),
                                                 QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("dev.corvane.Corvane")},
        {QStringLiteral("category"), categoryOf(activity.event)},
        {QStringLiteral("transient"), text->transient},
    };
    notify << QStringLiteral("Corvane") << 0U << QStringLiteral("dev.corvane.Corvane")
           << QString::fromStdString(text->summary) << QString::fromStdString(text->body)
           << QStringList() << hints << -1;
    bus_.send(notify);
}

} // namespace corvane
