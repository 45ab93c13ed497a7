#include "platform/qt/QtTcpConnection.h"

#include "platform/qt/PostWhileAlive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QHostAddress>
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

// "192.0.2.7:50412", or "[2001:db8::7]:50412"; an IPv4 peer on a dual-stack socket reads as IPv4.
std::string peerOf(const QTcpSocket& socket) {
    QHostAddress address = socket.peerAddress();
    bool isIpv4 = false;
    if (const quint32 ipv4 = address.toIPv4Address(&isIpv4); isIpv4) {
        address = QHostAddress(ipv4);
    }
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? "[" + address.toString() + "]"
                             : address.toString();
    return (host + ":" + QString::number(socket.peerPort())).toStdString();
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
    : socket_(std::move(socket)), peer_(peerOf(*socket_)), mainThread_(std::move(mainThread)) {
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

std::string QtTcpConnection::peer() const {
    return peer_;
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
    // Bytes may already wait here, but the completion must not run inside this call.
    serveReceive(Delivery::queued);
}

void QtTcpConnection::send(Bytes bytes) {
    if (finished_ || !socket_ || socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void QtTcpConnection::cancel() {
    if (pending_) {
        completeReceive({std::nullopt, false, cancelledError()}, Delivery::queued);
    }
    closeSocket();
    report(ConnectionState::cancelled, std::nullopt);
}

// The event loop delivers this notification, so an outstanding receive may complete right here
// rather than one more turn of the loop later: that turn is most of a touch's latency.
void QtTcpConnection::onReadyRead() {
    if (!pending_) {
        return;
    }
    // The completion may cancel this connection or let go of it.
    const auto self = shared_from_this();
    const bool outer = std::exchange(insideReadyRead_, true);
    serveReceive(Delivery::now);
    if (self.use_count() == 1) {
        // Nobody else holds this connection: part with the socket while that is still deferred.
        closeSocket();
    }
    insideReadyRead_ = outer;
}

void QtTcpConnection::onPeerClosed() {
    drainSocket();
    peerClosed_ = true;
    serveReceive(Delivery::queued);
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
    serveReceive(Delivery::queued);
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

void QtTcpConnection::serveReceive(Delivery delivery) {
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
    completeReceive(std::move(chunk), delivery);
}

// The receive is over before its completion runs, so the completion may ask for the next one.
void QtTcpConnection::completeReceive(ReceivedChunk chunk, Delivery delivery) {
    auto completion = std::move(pending_->completion);
    pending_.reset();
    if (delivery == Delivery::now) {
        completion(std::move(chunk));
        return;
    }
    postCompletion(std::move(completion), std::move(chunk));
}

void QtTcpConnection::postCompletion(ReceiveCompletion completion, ReceivedChunk chunk) {
    postWhileAlive(*mainThread_, weak_from_this(), std::move(completion), std::move(chunk));
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
    if (handler) {
        postWhileAlive(*mainThread_, weak_from_this(), std::move(handler), state, std::move(error));
    }
}

void QtTcpConnection::closeSocket() {
    if (!socket_) {
        return;
    }
    disconnectSignals();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        deleteSocket();
        return;
    }
    // Bytes already queued (a last rejection, say) go out before the FIN.
    socket_->flush();
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        deleteSocket();
        return;
    }
    lingerAndDelete(std::move(socket_), lingerLimit);
}

// A socket must outlive its own signal: deleted inside it, Qt would go on with a freed object.
void QtTcpConnection::deleteSocket() {
    if (insideReadyRead_) {
        socket_.release()->deleteLater();
        return;
    }
    socket_.reset();
}

} // namespace corvane
