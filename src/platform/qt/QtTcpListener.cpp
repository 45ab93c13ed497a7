#include "platform/qt/QtTcpListener.h"

#include "platform/qt/PostWhileAlive.h"
#include "platform/qt/QtTcpConnection.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <utility>

namespace corvane {

namespace {

// Qt words these its own way; the system's wording is the one users search for.
std::string describeListenError(const QTcpServer& server) {
    switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return "Address already in use";
    case QAbstractSocket::SocketAccessError:
        return "Permission denied";
    default:
        return server.errorString().toStdString();
    }
}

} // namespace

std::expected<std::shared_ptr<QtTcpListener>, Error>
QtTcpListener::listen(std::uint16_t port, std::shared_ptr<MainThread> mainThread,
                      std::shared_ptr<DnsSdPublisher> publisher) {
    auto listener =
        std::make_shared<QtTcpListener>(Key(), std::move(mainThread), std::move(publisher));
    if (auto error = listener->bind(port)) {
        return std::unexpected(std::move(*error));
    }
    return listener;
}

QtTcpListener::QtTcpListener(Key, std::shared_ptr<MainThread> mainThread,
                             std::shared_ptr<DnsSdPublisher> publisher)
    : mainThread_(std::move(mainThread)), publisher_(std::move(publisher)) {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { onNewConnection(); });
    QObject::connect(&server_, &QTcpServer::acceptError, &server_,
                     [this](QAbstractSocket::SocketError error) { onAcceptError(error); });
}

QtTcpListener::~QtTcpListener() {
    shutDown();
}

std::optional<Error> QtTcpListener::bind(std::uint16_t port) {
    // QHostAddress::Any is one dual-stack socket, so IPv4 phones and IPv6 phones both reach it.
    if (!server_.listen(QHostAddress::Any, port)) {
        return Error(describeListenError(server_));
    }
    server_.pauseAccepting();
    return std::nullopt;
}

std::uint16_t QtTcpListener::port() const {
    return server_.serverPort();
}

void QtTcpListener::setService(AdvertisedService service) {
    service_ = std::move(service);
}

void QtTcpListener::setStateHandler(StateHandler handler) {
    if (!finished_) {
        stateHandler_ = std::move(handler);
    }
}

void QtTcpListener::setNewConnectionHandler(NewConnectionHandler handler) {
    if (!finished_) {
        newConnectionHandler_ = std::move(handler);
    }
}

void QtTcpListener::start() {
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    server_.resumeAccepting();
    if (publisher_ && service_) {
        publication_ = publisher_->publish(*service_, port());
    }
    report(ListenerState::ready, std::nullopt);
    // Connections that queued up in the backlog before start are handed out now.
    if (server_.hasPendingConnections()) {
        postWhileAlive(*mainThread_, weak_from_this(), [this] { onNewConnection(); });
    }
}

void QtTcpListener::cancel() {
    if (finished_) {
        return;
    }
    shutDown();
    report(ListenerState::cancelled, std::nullopt);
}

void QtTcpListener::onNewConnection() {
    while (started_ && !finished_ && server_.hasPendingConnections()) {
        std::unique_ptr<QTcpSocket> socket(server_.nextPendingConnection());
        if (!socket) {
            return;
        }
        auto connection = QtTcpConnection::create(std::move(socket), mainThread_);
        // A copy: the handler may cancel this listener, which lets go of the original.
        if (auto handler = newConnectionHandler_) {
            handler(std::move(connection));
        }
    }
}

void QtTcpListener::onAcceptError(QAbstractSocket::SocketError) {
    // QTcpServer pauses on every error it does not consider temporary: it will not accept again.
    const Error error(server_.errorString().toStdString());
    // Not from inside the server's own notification: close it once that has returned.
    postWhileAlive(*mainThread_, weak_from_this(), [this] { shutDown(); });
    report(ListenerState::failed, error);
}

void QtTcpListener::shutDown() {
    if (publication_ && publisher_) {
        publisher_->withdraw(*publication_);
    }
    publication_.reset();
    // Closing at once frees the port for a listener that starts right after this one stops.
    server_.close();
}

void QtTcpListener::report(ListenerState state, std::optional<Error> error) {
    if (finished_) {
        return;
    }
    StateHandler handler = stateHandler_;
    if (state == ListenerState::failed || state == ListenerState::cancelled) {
        finished_ = true;
        stateHandler_ = nullptr;
        newConnectionHandler_ = nullptr;
    }
    if (handler) {
        postWhileAlive(*mainThread_, weak_from_this(), std::move(handler), state, std::move(error));
    }
}

} // namespace corvane
