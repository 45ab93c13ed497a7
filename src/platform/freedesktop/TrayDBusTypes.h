#pragma once

// The structures that the tray protocols (StatusNotifierItem and com.canonical.dbusmenu) put on
// the bus, and their D-Bus marshalling.

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace corvane {

// (iiay): one size of an icon, ARGB32 pixels in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmaps = QList<IconPixmap>;

// (sa(iiay)ss)
struct ToolTip {
    QString iconName;
    IconPixmaps pixmaps;
    QString title;
    QString description;
};

// (ia{sv}av): one menu item and, as variants, its children.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

// (ia{sv})
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

// (isvu)
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

// Makes the types above known to QtDBus; call before exporting anything that uses them.
void registerTrayDBusTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::IconPixmap)
Q_DECLARE_METATYPE(corvane::ToolTip)
Q_DECLARE_METATYPE(corvane::MenuLayout)
Q_DECLARE_METATYPE(corvane::MenuItemProperties)
Q_DECLARE_METATYPE(corvane::MenuEvent)
