#include "platform/portal/RemoteDesktopSession.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <utility>

namespace corvane {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
// Signals are matched by path alone: request and session paths carry our unique name and a token
// of ours, and naming the service would make QtDBus look its owner up with a blocking call.
const QString anySender;

constexpr std::uint32_t keyboardDevice = 1;
constexpr std::uint32_t pointerDevice = 2;
constexpr std::uint32_t neededDevices = keyboardDevice | pointerDevice;
// persist_mode: the grant lasts until the user revokes it (restore tokens since version 2).
constexpr std::uint32_t persistUntilRevoked = 2;
constexpr std::uint32_t firstVersionWithRestore = 2;
constexpr std::uint32_t responseSuccess = 0;

// The portal names request objects after our unique name: ":1.42" becomes "1_42".
QString senderElement(const QDBusConnection& bus) {
    return bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

// CreateSession's session_handle is an object path, but older portals sent it as a string.
QString handleOf(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

QString describe(const QDBusMessage& error) {
    return error.errorMessage().isEmpty() ? error.errorName() : error.errorMessage();
}

} // namespace

RemoteDesktopSession::RemoteDesktopSession(QDBusConnection bus, RestoreTokenStore tokens)
    : bus_(std::move(bus)), tokens_(std::move(tokens)) {}

RemoteDesktopSession::~RemoteDesktopSession() {
    forgetRequest();
    if (!sessionHandle_.isEmpty()) {
        bus_.send(QDBusMessage::createMethodCall(portalService, sessionHandle_, sessionInterface,
                                                 QStringLiteral("Close")));
    }
}

void RemoteDesktopSession::probe() {
    if (!bus_.isConnected()) {
        setState(State::unavailable, QStringLiteral("no session bus"));
        return;
    }
    auto message = QDBusMessage::createMethodCall(portalService, portalPath,
                                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("GetAll"));
    message << remoteDesktopInterface;
    calls_.watch(bus_.asyncCall(message), [this](const QDBusMessage& reply) { probed(reply); });
}

void RemoteDesktopSession::probed(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        setState(State::unavailable, describe(reply));
        return;
    }
    const auto properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    const std::uint32_t devices = properties.value(QStringLiteral("AvailableDeviceTypes")).toUInt();
    version_ = properties.value(QStringLiteral("version")).toUInt();
    if ((devices & neededDevices) != neededDevices) {
        setState(State::unavailable,
                 QStringLiteral("the portal offers no keyboard and pointer control"));
        return;
    }
    setState(State::idle);
    if (std::exchange(requestWanted_, false)) {
        request();
    }
}

void RemoteDesktopSession::request() {
    if (state_ == State::probing) {
        requestWanted_ = true;
        return;
    }
    if (state_ != State::idle) {
        return;
    }
    setState(State::requesting);
    createSession();
}

void RemoteDesktopSession::createSession() {
    const QVariantMap options{{QStringLiteral("session_handle_token"), newToken("session")}};
    callRequest("CreateSession", {}, options,
                [this](std::uint32_t response, const QVariantMap& results) {
                    sessionHandle_ = handleOf(results.value(QStringLiteral("session_handle")));
                    if (response != responseSuccess || sessionHandle_.isEmpty()) {
                        endSession();
                        return;
                    }
                    bus_.connect(anySender, sessionHandle_, sessionInterface,
                                 QStringLiteral("Closed"), this, SLOT(sessionClosed(QDBusMessage)));
                    selectDevices();
                });
}

void RemoteDesktopSession::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), QVariant::fromValue(neededDevices)}};
    if (version_ >= firstVersionWithRestore) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(persistUntilRevoked));
        if (const QString token = tokens_.load(); !token.isEmpty()) {
            options.insert(QStringLiteral("restore_token"), token);
        }
    }
    callRequest("SelectDevices", {QVariant::fromValue(QDBusObjectPath(sessionHandle_))}, options,
                [this](std::uint32_t response, const QVariantMap&) {
                    if (response != responseSuccess) {
                        endSession();
                        return;
                    }
                    startSession();
                });
}

void RemoteDesktopSession::startSession() {
    callRequest(
        "Start", {QVariant::fromValue(QDBusObjectPath(sessionHandle_)), QString()}, {},
        [this](std::uint32_t response, const QVariantMap& results) { started(response, results); });
}

void RemoteDesktopSession::started(std::uint32_t response, const QVariantMap& results) {
    // The token we passed is spent either way; keep the new one, if the portal gave one.
    if (version_ >= firstVersionWithRestore) {
        tokens_.save(results.value(QStringLiteral("restore_token")).toString());
    }
    if (response != responseSuccess) {
        endSession();
        return;
    }
    setState(State::started);
}

void RemoteDesktopSession::notify(const char* method, const QVariantList& arguments) {
    if (state_ != State::started) {
        return;
    }
    auto message = QDBusMessage::createMethodCall(portalService, portalPath, remoteDesktopInterface,
                                                  QLatin1String(method));
    message.setArguments(
        QVariantList{QVariant::fromValue(QDBusObjectPath(sessionHandle_)), QVariantMap{}} +
        arguments);
    calls_.watch(bus_.asyncCall(message),
                 [this, generation = generation_](const QDBusMessage& reply) {
                     if (generation == generation_ && reply.type() == QDBusMessage::ErrorMessage) {
                         endSession();
                     }
                 });
}

void RemoteDesktopSession::callRequest(const char* method, QVariantList arguments,
                                       QVariantMap options, Answer answer) {
    const QString token = newToken("request");
    options.insert(QStringLiteral("handle_token"), token);
    const QString expected =
        portalPath + QStringLiteral("/request/") + senderElement(bus_) + QLatin1Char('/') + token;
    // Subscribed before the call, so that even an immediate answer is heard.
    awaitResponseAt(expected);
    answer_ = std::move(answer);
    auto message = QDBusMessage::createMethodCall(portalService, portalPath, remoteDesktopInterface,
                                                  QLatin1String(method));
    arguments.append(options);
    message.setArguments(arguments);
    calls_.watch(bus_.asyncCall(message), [this, expected](const QDBusMessage& reply) {
        // The Response may be handled before this reply; then the next request is under way and
        // this reply has nothing to add.
        if (requestPath_ != expected) {
            return;
        }
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            endSession();
            return;
        }
        // Portals before handle_token chose their own path.
        if (const QString path = handleOf(reply.arguments().constFirst()); !path.isEmpty()) {
            awaitResponseAt(path);
        }
    });
}

void RemoteDesktopSession::awaitResponseAt(const QString& path) {
    if (path == requestPath_) {
        return;
    }
    if (!requestPath_.isEmpty()) {
        bus_.disconnect(anySender, requestPath_, requestInterface, QStringLiteral("Response"), this,
                        SLOT(requestAnswered(QDBusMessage)));
    }
    requestPath_ = path;
    bus_.connect(anySender, requestPath_, requestInterface, QStringLiteral("Response"), this,
                 SLOT(requestAnswered(QDBusMessage)));
}

void RemoteDesktopSession::requestAnswered(const QDBusMessage& message) {
    if (message.path() != requestPath_ || message.arguments().size() < 2) {
        return;
    }
    const std::uint32_t response = message.arguments().at(0).toUInt();
    const auto results = qdbus_cast<QVariantMap>(message.arguments().at(1));
    Answer answer = std::exchange(answer_, nullptr);
    forgetRequest();
    if (answer) {
        answer(response, results);
    }
}

void RemoteDesktopSession::sessionClosed(const QDBusMessage& message) {
    if (message.path() != sessionHandle_) {
        return;
    }
    // The portal has closed it already: nothing to close on its side.
    bus_.disconnect(anySender, sessionHandle_, sessionInterface, QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QDBusMessage)));
    sessionHandle_.clear();
    endSession();
}

void RemoteDesktopSession::forgetRequest() {
    if (!requestPath_.isEmpty()) {
        bus_.disconnect(anySender, requestPath_, requestInterface, QStringLiteral("Response"), this,
                        SLOT(requestAnswered(QDBusMessage)));
        requestPath_.clear();
    }
    answer_ = nullptr;
}

void RemoteDesktopSession::endSession() {
    ++generation_;
    forgetRequest();
    if (!sessionHandle_.isEmpty()) {
        bus_.disconnect(anySender, sessionHandle_, sessionInterface, QStringLiteral("Closed"), this,
                        SLOT(sessionClosed(QDBusMessage)));
        bus_.send(QDBusMessage::createMethodCall(portalService, sessionHandle_, sessionInterface,
                                                 QStringLiteral("Close")));
        sessionHandle_.clear();
    }
    setState(State::idle);
}

void RemoteDesktopSession::setState(State state, QString problem) {
    state_ = state;
    problem_ = std::move(problem);
    if (onStateChanged_) {
        onStateChanged_();
    }
}

QString RemoteDesktopSession::newToken(const char* kind) {
    return QStringLiteral("corvane_%1_%2").arg(QLatin1String(kind)).arg(++nextToken_);
}

} // namespace corvane
