#pragma once

#include "common/Error.h"
#include "platform/dbus/PendingCalls.h"
#include "platform/freedesktop/TrayDBusTypes.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <expected>

namespace corvane {

// A tray icon as org.kde.StatusNotifierItem, the protocol that Plasma, GNOME's AppIndicator
// extension and most panels host. It registers with the StatusNotifierWatcher whenever one
// appears on the session bus, and keeps track of whether a host shows the items.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<corvane::IconPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(corvane::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    static constexpr const char* objectPath = "/StatusNotifierItem";

    struct Appearance {
        QString id;
        QString title;
        QString iconName;
        IconPixmaps pixmaps;
    };

    StatusNotifierItem(QDBusConnection bus, Appearance appearance, QDBusObjectPath menu,
                       QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Exports the item and offers it to the watcher, now and whenever a watcher appears.
    std::expected<void, Error> publish();
    void setToolTip(const QString& description);
    // Whether a host shows tray items, as the watcher last said.
    bool hostPresent() const { return hostPresent_; }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return appearance_.id; }
    QString title() const { return appearance_.title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return appearance_.iconName; }
    IconPixmaps iconPixmap() const { return appearance_.pixmaps; }
    ToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return menu_; }

signals:
    // Not on the bus: what the item tells its owner.
    void activated();
    void hostPresenceChanged(bool present);

    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);

public slots:
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

private slots:
    void readHostPresence();

private:
    void registerWithWatcher();
    void setHostPresent(bool present);

    QDBusConnection bus_;
    Appearance appearance_;
    QDBusObjectPath menu_;
    QString description_;
    QDBusServiceWatcher watcher_;
    PendingCalls calls_;
    bool hostPresent_ = false;
    bool published_ = false;
};

} // namespace corvane
