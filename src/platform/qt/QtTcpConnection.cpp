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
    QTcpSocket* source = socket_.get();
    QObject::connect(source, &QIODevice::readyRead, &signalContext_,
                     [this] { deliverAvailable(); });
    QObject::connect(source, &QAbstractSocket::disconnected, &signalContext_,
                     [this] { end(std::nullopt); });
    QObject::connect(source, &QAbstractSocket::errorOccurred, &signalContext_,
                     [this](QAbstractSocket::SocketError error) {
                         // The peer closing is the stream's normal end, not a failure.
                         end(error == QAbstractSocket::RemoteHostClosedError
                                 ? std::nullopt
                                 : std::optional(Error(socket_->errorString().toStdString())));
                     });
}

QtTcpConnection::~QtTcpConnection() {
    closeSocket();
}

std::string QtTcpConnection::peer() const {
    return peer_;
}

void QtTcpConnection::start(ReceiveHandler handler) {
    if (handler_ || !socket_) {
        return;
    }
    handler_ = std::move(handler);
    // Bytes, or the end, that came before the handler did are handed out from the event loop.
    postWhileAlive(*mainThread_, weak_from_this(), [this] {
        if (socket_ && socket_->state() != QAbstractSocket::ConnectedState) {
            end(std::nullopt);
        } else {
            deliverAvailable();
        }
    });
}

void QtTcpConnection::send(Bytes bytes) {
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
}

void QtTcpConnection::cancel() {
    handler_ = nullptr;
    closeSocket();
}

void QtTcpConnection::deliverAvailable() {
    // The handler may cancel this connection or let go of it.
    const auto self = shared_from_this();
    while (handler_ && socket_ && socket_->bytesAvailable() > 0) {
        Bytes chunk(std::min(static_cast<std::size_t>(socket_->bytesAvailable()), maximumChunk),
                    '\0');
        const qint64 length = socket_->read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (length <= 0) {
            return;
        }
        chunk.resize(static_cast<std::size_t>(length));
        handler_(ReceivedChunk{std::move(chunk), false, std::nullopt});
    }
}

// Bytes that arrived just before the end are delivered ahead of it.
void QtTcpConnection::end(std::optional<Error> error) {
    deliverAvailable();
    if (auto handler = std::exchange(handler_, nullptr)) {
        handler(ReceivedChunk{{}, !error, std::move(error)});
    }
}

void QtTcpConnection::closeSocket() {
    if (!socket_) {
        return;
    }
    socket_->disconnect(&signalContext_);
    // Bytes already queued (a last rejection, say) go out before the FIN.
    socket_->flush();
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState) {
        // Perhaps from inside one of its own signals: it must outlive that.
        socket_.release()->deleteLater();
        return;
    }
    lingerAndDelete(std::move(socket_), lingerLimit);
}

} // namespace corvane
