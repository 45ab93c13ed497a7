#include "platform/qt/QtTcpConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTimer>
#include <algorithm>
#include <utility>

namespace corvane {

namespace {

// Qt's own buffer stays bounded; past it the kernel and TCP flow control hold the peer back.
constexpr qint64 readBufferLimit = 64 * 1024;

// A phone that vanishes without closing (Wi-Fi gone, battery dead) never sends a FIN, and it
// holds the single client slot until something notices: probe an idle link after a few seconds
// and give up on unacknowledged data after about 20 s.
void enableKeepAlive(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0) {
        return;
    }
    const int idleSeconds = 5;
    const int intervalSeconds = 5;
    const int probes = 3;
    const unsigned userTimeoutMs = 20000;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

Error cancelledError() {
    return Error("Operation canceled");
}

// Lets a closing socket hand its queued bytes to the peer after its connection object is gone,
// then deletes it; a peer that never reads is cut off after the limit.
void lingerAndDelete(std::unique_ptr<QTcpSocket> socket, std::chrono::milliseconds limit) {
    QTcpSocket* lingering = socket.release();
    QObject::connect(lingering, &QAbstractSocket::disconnected, lingering, &QObject::deleteLater);
    QObject::connect(lingering, &QAbstractSocket::errorOccurred, lingering, &QObject::deleteLater);
    // Unread input at close makes the kernel reset the link, which can destroy our last replies.
    QObject::connect(lingering, &QIODevice::readyRead, lingering,
                     [lingering] { lingering->readAll(); });
    QTimer::singleShot(limit, lingering, [lingering] {
        lingering->abort();
        lingering->deleteLater();
    });
}

} // namespace

std::shared_ptr<QtTcpConnection> QtTcpConnection::create(std::unique_ptr<QTcpSocket> socket,
                                                         std::shared_ptr<MainThread> mainThread) {
    return std::make_shared<QtTcpConnection>(Key(), std::move(socket), std::move(mainThread));
}

QtTcpConnection::QtTcpConnection(Key, std::unique_ptr<QTcpSocket> socket,
                                 std::shared_ptr<MainThread> mainThread)
    : socket_(std::move(socket)), mainThread_(std::move(mainThread)) {
    socket_->setParent(nullptr);
    socket_->setReadBufferSize(readBufferLimit);
    enableKeepAlive(*socket_);
    connectSignals();
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        onPeerClosed();
    }
}

QtTcpConnection::~QtTcpConnection() {
    closeSocket();
}

void QtTcpConnection::connectSignals() {
    QTcpSocket* socket = socket_.get();
    signalConnections_ = {
        QObject::connect(socket, &QIODevice::readyRead, socket, [this] { onReadyRead(); }),
        QObject::connect(socket, &QAbstractSocket::disconnected, socket,
                         [this] { onPeerClosed(); }),
        QObject::connect(socket, &QAbstractSocket::errorOccurred, socket,
                         [this](QAbstractSocket::SocketError error) { onError(error); }),
    };
}

void QtTcpConnection::disconnectSignals() {
    for (const auto& connection : signalConnections_) {
        QObject::disconnect(connection);
    }
    signalConnections_.clear();
}

void QtTcpConnection::setStateHandler(StateHandler handler) {
    if (!finished_) {
        stateHandler_ = std::move(handler);
    }
}

void QtTcpConnection::start() {
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    // The socket arrives connected: there is nothing to prepare.
    report(ConnectionState::ready, std::nullopt);
}

void QtTcpConnection::receive(std::size_t minimumLength, std::size_t maximumLength,
                              ReceiveCompletion completion) {
    if (finished_) {
        postCompletion(std::move(completion), {std::nullopt, false, cancelledError()});
        return;
    }
    if (pending_) {
        postCompletion(std::move(completion),
                       {std::nullopt, false, Error("A receive is already outstanding")});
        return;
    }
    const std::size_t maximum = std::max<std::size_t>(maximumLength, 1);
    pending_ = PendingReceive{std::clamp<std::size_t>(minimumLength, 1, maximum), maximum,
                              std::move(completion)};
    serveReceive();
}

void QtTcpConnection::send(Bytes bytes) {
    if (finished_ || !socket_ || socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void QtTcpConnection::cancel() {
    if (pending_) {
        completeReceive({std::nullopt, false, cancelledError()});
    }
    closeSocket();
    report(ConnectionState::cancelled, std::nullopt);
}

void QtTcpConnection::onReadyRead() {
    serveReceive();
}

void QtTcpConnection::onPeerClosed() {
    drainSocket();
    peerClosed_ = true;
    serveReceive();
}

void QtTcpConnection::onError(QAbstractSocket::SocketError error) {
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onPeerClosed();
        return;
    }
    drainSocket();
    if (!readError_) {
        readError_ = Error(socket_->errorString().toStdString());
    }
    serveReceive();
    if (started_) {
        report(ConnectionState::failed, readError_);
    }
}

// Keeps whatever the socket still holds, so that bytes which arrived just before the end are
// delivered ahead of it.
void QtTcpConnection::drainSocket() {
    if (socket_) {
        inbox_ += socket_->readAll().toStdString();
    }
}

void QtTcpConnection::serveReceive() {
    if (!pending_) {
        return;
    }
    const std::size_t maximum = pending_->maximumLength;
    if (socket_ && inbox_.size() < maximum && socket_->bytesAvailable() > 0) {
        inbox_ += socket_->read(static_cast<qint64>(maximum - inbox_.size())).toStdString();
    }
    const bool ended = peerClosed_ || readError_.has_value();
    if (inbox_.size() < pending_->minimumLength && !ended) {
        return;
    }
    ReceivedChunk chunk;
    if (!inbox_.empty()) {
        const std::size_t length = std::min(maximum, inbox_.size());
        chunk.content = inbox_.substr(0, length);
        inbox_.erase(0, length);
    }
    if (inbox_.empty() && ended) {
        chunk.isComplete = !readError_ && peerClosed_;
        chunk.error = readError_;
    }
    completeReceive(std::move(chunk));
}

void QtTcpConnection::completeReceive(ReceivedChunk chunk) {
    auto completion = std::move(pending_->completion);
    pending_.reset();
    postCompletion(std::move(completion), std::move(chunk));
}

void QtTcpConnection::postCompletion(ReceiveCompletion completion, ReceivedChunk chunk) {
    mainThread_->post(
        [weak = weak_from_this(), completion = std::move(completion), chunk = std::move(chunk)] {
            if (weak.lock()) {
                completion(chunk);
            }
        });
}

void QtTcpConnection::report(ConnectionState state, std::optional<Error> error) {
    if (finished_) {
        return;
    }
    StateHandler handler = stateHandler_;
    if (state == ConnectionState::failed || state == ConnectionState::cancelled) {
        finished_ = true;
        // The handler may hold this connection; letting go of it here ends that cycle.
        stateHandler_ = nullptr;
    }
    if (!handler) {
        return;
    }
    mainThread_->post(
        [weak = weak_from_this(), handler = std::move(handler), state, error = std::move(error)] {
            if (weak.lock()) {
                handler(state, error);
            }
        });
}

void QtTcpConnection::closeSocket() {
    if (!socket_) {
        return;
    }
    disconnectSignals();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        socket_.reset();
        return;
    }
    // Bytes already queued (a last rejection, say) go out before the FIN.
    socket_->flush();
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        socket_.reset();
        return;
    }
    lingerAndDelete(std::move(socket_), lingerLimit);
}

} // namespace corvane
