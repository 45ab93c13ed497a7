#include "app/SingleInstance.h"

#include <QDBusMessage>

namespace corvane {

namespace {

// RequestName's flag and answer, as D-Bus defines them.
constexpr uint doNotQueue = 4;
constexpr uint primaryOwner = 1;
constexpr uint alreadyOwner = 4;

constexpr const char* applicationInterface = "org.freedesktop.Application";
constexpr const char* noWindowError = "dev.corvane.Corvane.Error.NoWindow";

Error errorOf(const QDBusMessage& reply) {
    return Error(reply.errorMessage().isEmpty() ? reply.errorName().toStdString()
                                                : reply.errorMessage().toStdString());
}

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus) : bus_(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (exported_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

void SingleInstance::claim(ClaimDone done) {
    if (!bus_.isConnected()) {
        done(std::unexpected(Error("no session bus: " + bus_.lastError().message().toStdString())));
        return;
    }
    // Exported before the name is ours, so that a launch right after the claim finds it.
    exported_ = bus_.registerObject(QString::fromLatin1(objectPath), this,
                                    QDBusConnection::ExportScriptableSlots);
    auto request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << QString::fromLatin1(busName) << doNotQueue;
    calls_.watch(bus_.asyncCall(request),
                 [this, done = std::move(done)](const QDBusMessage& reply) {
                     if (reply.type() == QDBusMessage::ErrorMessage) {
                         done(std::unexpected(errorOf(reply)));
                         return;
                     }
                     const uint answer = reply.arguments().value(0).toUInt();
                     const bool first = answer == primaryOwner || answer == alreadyOwner;
                     if (!first && exported_) {
                         bus_.unregisterObject(QString::fromLatin1(objectPath));
                         exported_ = false;
                     }
                     done(first);
                 });
}

void SingleInstance::setActivateWindow(ActivateWindow activate) {
    activateWindow_ = std::move(activate);
}

void SingleInstance::activateRunning(std::function<void(std::expected<void, Error>)> done) {
    auto call = QDBusMessage::createMethodCall(
        QString::fromLatin1(busName), QString::fromLatin1(objectPath),
        QString::fromLatin1(applicationInterface), QStringLiteral("Activate"));
    QVariantMap platformData;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty()) {
        platformData.insert(QStringLiteral("activation-token"), token);
    }
    call << platformData;
    calls_.watch(bus_.asyncCall(call), [done = std::move(done)](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) {
            done(std::unexpected(errorOf(reply)));
            return;
        }
        done({});
    });
}

void SingleInstance::Activate(const QVariantMap& platformData) {
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!activateWindow_ || !activateWindow_(token)) {
        sendErrorReply(QString::fromLatin1(noWindowError),
                       QStringLiteral("corvane is running without a window (corvane --headless)"));
    }
}

} // namespace corvane
