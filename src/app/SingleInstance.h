#pragma once

#include "common/Error.h"
#include "platform/dbus/PendingCalls.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <expected>
#include <functional>

namespace corvane {

// One corvane per user session: the first one owns the program's name on the session bus and
// answers org.freedesktop.Application.Activate there, which is how a later launch hands over.
class SingleInstance : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static constexpr const char* busName = "dev.corvane.Corvane";
    static constexpr const char* objectPath = "/dev/corvane/Corvane";

    // Shows the window of this instance; false when it has none. `activationToken` is the
    // launcher's XDG activation token, or empty.
    using ActivateWindow = std::function<bool(const QString& activationToken)>;
    // true: this instance is the one; false: another one already runs; an error: nobody can
    // tell (no session bus), and the caller goes on alone.
    using ClaimDone = std::function<void(std::expected<bool, Error>)>;

    explicit SingleInstance(QDBusConnection bus);
    ~SingleInstance() override;

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Asks the bus for the name, without waiting; `done` hears the answer from the event loop.
    void claim(ClaimDone done);
    void setActivateWindow(ActivateWindow activate);
    // Asks the instance that owns the name to show its window.
    void activateRunning(std::function<void(std::expected<void, Error>)> done);

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

private:
    QDBusConnection bus_;
    ActivateWindow activateWindow_;
    PendingCalls calls_;
    bool exported_ = false;
};

} // namespace corvane
