#include "platform/freedesktop/DBusMenu.h"

#include <QDBusError>
#include <QTimer>

namespace corvane {

namespace {

// Hosts read a single underscore as the mark of a keyboard mnemonic.
QString withoutMnemonics(QString label) {
    return label.replace(QLatin1Char('_'), QStringLiteral("__"));
}

QVariantMap propertiesOfItem(const MenuItem& item) {
    if (item.kind == MenuItem::Kind::separator) {
        return {{QStringLiteral("type"), QStringLiteral("separator")},
                {QStringLiteral("visible"), item.visible}};
    }
    QVariantMap properties{{QStringLiteral("label"), withoutMnemonics(item.label)},
                           {QStringLiteral("visible"), item.visible},
                           {QStringLiteral("enabled"), item.kind != MenuItem::Kind::label}};
    if (item.kind == MenuItem::Kind::checkbox) {
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    return properties;
}

QVariantMap only(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap chosen;
    for (const QString& name : names) {
        if (properties.contains(name)) {
            chosen.insert(name, properties.value(name));
        }
    }
    return chosen;
}

} // namespace

DBusMenu::DBusMenu(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    registerTrayDBusTypes();
}

DBusMenu::~DBusMenu() {
    if (published_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

std::expected<void, Error> DBusMenu::publish() {
    published_ = bus_.registerObject(QString::fromLatin1(objectPath), this,
                                     QDBusConnection::ExportScriptableContents);
    if (!published_) {
        return std::unexpected(
            Error("cannot export the tray menu: " + bus_.lastError().message().toStdString()));
    }
    return {};
}

void DBusMenu::setItems(QList<MenuItem> items) {
    items_ = std::move(items);
    ++revision_;
    emit LayoutUpdated(revision_, 0);
}

bool DBusMenu::known(int id) const {
    return id >= 0 && id <= items_.size();
}

QVariantMap DBusMenu::propertiesOf(int id, const QStringList& names) const {
    if (id == 0) {
        return only({{QStringLiteral("children-display"), QStringLiteral("submenu")}}, names);
    }
    return only(propertiesOfItem(items_.at(id - 1)), names);
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                         MenuLayout& layout) {
    if (!known(parentId)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(parentId));
        return revision_;
    }
    layout = MenuLayout{parentId, propertiesOf(parentId, propertyNames), {}};
    if (parentId == 0 && recursionDepth != 0) {
        for (int id = 1; id <= items_.size(); ++id) {
            layout.children << MenuLayout{id, propertiesOf(id, propertyNames), {}};
        }
    }
    return revision_;
}

QList<MenuItemProperties> DBusMenu::GetGroupProperties(const QList<int>& ids,
                                                       const QStringList& propertyNames) {
    QList<MenuItemProperties> found;
    for (const int id : ids) {
        if (known(id)) {
            found << MenuItemProperties{id, propertiesOf(id, propertyNames)};
        }
    }
    return found;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
    const QVariantMap properties = known(id) ? propertiesOf(id, {name}) : QVariantMap();
    if (!properties.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("menu item %1 has no %2").arg(id).arg(name));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(properties.value(name));
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (!trigger(id, eventId)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(id));
    }
}

QList<int> DBusMenu::EventGroup(const QList<MenuEvent>& events) {
    QList<int> unknown;
    for (const MenuEvent& event : events) {
        if (!trigger(event.id, event.eventId)) {
            unknown << event.id;
        }
    }
    return unknown;
}

bool DBusMenu::AboutToShow(int) {
    return false;
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (const int id : ids) {
        if (!known(id)) {
            idErrors << id;
        }
    }
    return {};
}

bool DBusMenu::trigger(int id, const QString& eventId) {
    if (!known(id)) {
        return false;
    }
    if (id == 0 || eventId != QLatin1String("clicked")) {
        return true;
    }
    const MenuItem& item = items_.at(id - 1);
    if (item.kind == MenuItem::Kind::action || item.kind == MenuItem::Kind::checkbox) {
        // After the reply: the action may change this menu, or end the program.
        QTimer::singleShot(0, this, [action = item.triggered] {
            if (action) {
                action();
            }
        });
    }
    return true;
}

} // namespace corvane
