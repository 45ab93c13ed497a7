#pragma once

#include "common/Error.h"
#include "platform/freedesktop/TrayDBusTypes.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <expected>
#include <functional>

namespace corvane {

struct MenuItem {
    enum class Kind { action, checkbox, label, separator };

    Kind kind = Kind::action;
    QString label;
    bool visible = true;
    bool checked = false;
    std::function<void()> triggered;
};

// A flat menu served as com.canonical.dbusmenu, the menu protocol of StatusNotifierItem hosts.
// Item N of the list has the id N + 1; the root is 0. Every change sends the whole layout again.
class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    static constexpr const char* objectPath = "/MenuBar";

    explicit DBusMenu(QDBusConnection bus, QObject* parent = nullptr);
    ~DBusMenu() override;

    DBusMenu(const DBusMenu&) = delete;
    DBusMenu& operator=(const DBusMenu&) = delete;

    std::expected<void, Error> publish();
    void setItems(QList<MenuItem> items);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                corvane::MenuLayout& layout);
    Q_SCRIPTABLE QList<corvane::MenuItemProperties>
    GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const QList<corvane::MenuEvent>& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);

private:
    bool known(int id) const;
    QVariantMap propertiesOf(int id, const QStringList& names) const;
    bool trigger(int id, const QString& eventId);

    QDBusConnection bus_;
    QList<MenuItem> items_;
    uint revision_ = 1;
    bool published_ = false;
};

} // namespace corvane
