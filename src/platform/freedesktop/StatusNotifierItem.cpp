#include "platform/freedesktop/StatusNotifierItem.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace corvane {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// Nobody starts a watcher for us: the tray is there, or it is not.
QDBusMessage watcherCall(const QString& interface, const QString& method) {
    auto call = QDBusMessage::createMethodCall(watcherService, watcherPath, interface, method);
    call.setAutoStartService(false);
    return call;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, Appearance appearance,
                                       QDBusObjectPath menu, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appearance_(std::move(appearance)),
      menu_(std::move(menu)),
      watcher_(watcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    registerTrayDBusTypes();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (published_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

std::expected<void, Error> StatusNotifierItem::publish() {
    published_ = bus_.registerObject(QString::fromLatin1(objectPath), this,
                                     QDBusConnection::ExportScriptableContents |
                                         QDBusConnection::ExportAllProperties);
    if (!published_) {
        return std::unexpected(
            Error("cannot export the tray icon: " + bus_.lastError().message().toStdString()));
    }
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    setHostPresent(false);
                } else {
                    registerWithWatcher();
                }
            });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus_.connect(watcherService, watcherPath, watcherInterface, QString::fromLatin1(signal),
                     this, SLOT(readHostPresence()));
    }
    registerWithWatcher();
    return {};
}

void StatusNotifierItem::setToolTip(const QString& description) {
    if (description == description_) {
        return;
    }
    description_ = description;
    emit NewToolTip();
}

ToolTip StatusNotifierItem::toolTip() const {
    return ToolTip{appearance_.iconName, appearance_.pixmaps, appearance_.title, description_};
}

void StatusNotifierItem::Activate(int, int) {
    emit activated();
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::ContextMenu(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

void StatusNotifierItem::registerWithWatcher() {
    auto call = watcherCall(watcherInterface, QStringLiteral("RegisterStatusNotifierItem"));
    // The connection's own name: the item sits at the path every host looks at first.
    call << bus_.baseService();
    calls_.watch(bus_.asyncCall(call), [this](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) {
            setHostPresent(false);
        } else {
            readHostPresence();
        }
    });
}

void StatusNotifierItem::readHostPresence() {
    auto call =
        watcherCall(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    calls_.watch(bus_.asyncCall(call), [this](const QDBusMessage& reply) {
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        setHostPresent(reply.type() == QDBusMessage::ReplyMessage && value.toBool());
    });
}

void StatusNotifierItem::setHostPresent(bool present) {
    if (present == hostPresent_) {
        return;
    }
    hostPresent_ = present;
    emit hostPresenceChanged(present);
}

} // namespace corvane
