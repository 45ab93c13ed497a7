#pragma once

#include "app/window/AutostartEntry.h"
#include "common/Error.h"
#include "platform/freedesktop/DBusMenu.h"
#include "platform/freedesktop/StatusNotifierItem.h"
#include "receiver/TouchReceiver.h"

#include <QDBusConnection>
#include <QObject>
#include <expected>
#include <functional>
#include <memory>

namespace corvane {

// The tray icon of the window: the receiver's status at a glance, and a menu with Show Window,
// Start/Stop Receiver, Start at Login and Quit.
class CompanionTray : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showWindow;
        std::function<void()> toggleReceiver;
        std::function<void()> quit;
    };

    CompanionTray(QDBusConnection bus, std::shared_ptr<TouchReceiver> receiver,
                  AutostartEntry autostart, Actions actions);
    ~CompanionTray() override;

    CompanionTray(const CompanionTray&) = delete;
    CompanionTray& operator=(const CompanionTray&) = delete;

    std::expected<void, Error> publish();
    // A tray shows the icon, so the window may close without ending the program.
    bool hostPresent() const { return item_.hostPresent(); }

private:
    void refresh();
    void toggleAutostart();

    std::shared_ptr<TouchReceiver> receiver_;
    AutostartEntry autostart_;
    Actions actions_;
    DBusMenu menu_;
    StatusNotifierItem item_;
    TouchReceiver::ObserverId observer_ = 0;
};

} // namespace corvane
