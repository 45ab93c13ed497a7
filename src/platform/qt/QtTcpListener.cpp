#include "platform/qt/QtTcpListener.h"

#include "platform/qt/PostWhileAlive.h"
#include "platform/qt/QtTcpConnection.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace corvane {

namespace {

// Enough for a burst of phones; more wait in the kernel until the queue drains.
constexpr int backlog = 50;
// Accepted per wake-up of the event loop, so a storm of connections cannot starve the phone
// that is already admitted.
constexpr int acceptsPerWake = 64;

Error systemError(int error) {
    return Error(std::strerror(error));
}

// Errors of the connection being accepted, not of the listening socket: Linux passes pending
// network errors on through accept(2), and the caller is to treat them like EAGAIN and go on.
bool isDeadConnection(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

// One socket for both families: IPv4 phones arrive as mapped addresses. Without IPv6, IPv4 alone.
int openListeningSocket(std::uint16_t port, int& error) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool ipv6 = fd >= 0;
    if (!ipv6) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const int off = 0;
    const int on = 1;
    // Reuse lets a restart right after a stop bind while old connections linger in TIME_WAIT.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int bound = -1;
    if (ipv6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (bound != 0 || ::listen(fd, backlog) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
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
    acceptPause_.setSingleShot(true);
    QObject::connect(&acceptPause_, &QTimer::timeout, &acceptPause_, [this] {
        if (notifier_) {
            notifier_->setEnabled(true);
        }
    });
}

QtTcpListener::~QtTcpListener() {
    shutDown();
}

std::optional<Error> QtTcpListener::bind(std::uint16_t port) {
    int error = 0;
    socket_ = openListeningSocket(port, error);
    if (socket_ < 0) {
        return systemError(error);
    }
    port_ = boundPort(socket_);
    // Disabled until start: connections wait in the kernel's queue meanwhile.
    notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { acceptPending(); });
    return std::nullopt;
}

std::uint16_t QtTcpListener::port() const {
    return port_;
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

void QtTcpListener::setAdvertisingHandler(AdvertisingHandler handler) {
    if (!finished_) {
        advertisingHandler_ = std::move(handler);
    }
}

void QtTcpListener::start() {
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    // Connections that queued up before start are handed out from the event loop, as any other.
    notifier_->setEnabled(true);
    advertise();
    report(ListenerState::ready, std::nullopt);
}

void QtTcpListener::cancel() {
    if (finished_) {
        return;
    }
    shutDown();
    report(ListenerState::cancelled, std::nullopt);
}

void QtTcpListener::advertise() {
    const std::weak_ptr<QtTcpListener> self = weak_from_this();
    auto forward = [this, self](std::optional<Error> problem) {
        if (advertisingHandler_) {
            postWhileAlive(*mainThread_, self, advertisingHandler_, std::move(problem));
        }
    };
    if (!publisher_) {
        forward(Error("this build cannot advertise on the network (no DNS-SD support)"));
        return;
    }
    if (service_) {
        // The publisher is shared and may outlive this listener: it holds it weakly.
        publication_ =
            publisher_->publish(*service_, port_, [self, forward](std::optional<Error> problem) {
                if (const auto alive = self.lock()) {
                    forward(std::move(problem));
                }
            });
    }
}

void QtTcpListener::acceptPending() {
    // The handler may cancel this listener, which must then outlive the loop.
    const auto keepAlive = shared_from_this();
    for (int accepted = 0; accepted < acceptsPerWake && started_ && !finished_; ++accepted) {
        const int descriptor = ::accept4(socket_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            nextPause_ = firstAcceptPause;
            handOver(descriptor);
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return;
        }
        if (isDeadConnection(error)) {
            continue;
        }
        if (stillListening()) {
            pauseAccepting(error);
            return;
        }
        // Not from inside the notifier's own signal: close it once that has returned.
        notifier_->setEnabled(false);
        postWhileAlive(*mainThread_, weak_from_this(), [this] { shutDown(); });
        report(ListenerState::failed, systemError(error));
        return;
    }
}

void QtTcpListener::handOver(int descriptor) {
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        return;
    }
    auto connection = QtTcpConnection::create(std::move(socket), mainThread_);
    // A copy: the handler may cancel this listener, which lets go of the original.
    if (auto handler = newConnectionHandler_) {
        handler(std::move(connection));
    }
}

void QtTcpListener::pauseAccepting(int error) {
    // The connection that met the shortage stays queued and is taken on a later try.
    if (nextPause_ == firstAcceptPause) {
        qWarning("Could not accept a connection (%s); trying again", std::strerror(error));
    }
    notifier_->setEnabled(false);
    acceptPause_.start(nextPause_);
    nextPause_ = std::min(nextPause_ * 2, longestAcceptPause);
}

bool QtTcpListener::stillListening() const {
    int accepting = 0;
    socklen_t length = sizeof accepting;
    return ::getsockopt(socket_, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 &&
           accepting != 0;
}

void QtTcpListener::shutDown() {
    acceptPause_.stop();
    if (publication_ && publisher_) {
        publisher_->withdraw(*publication_);
    }
    publication_.reset();
    notifier_.reset();
    // Closing at once frees the port for a listener that starts right after this one stops.
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
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
        advertisingHandler_ = nullptr;
    }
    if (handler) {
        postWhileAlive(*mainThread_, weak_from_this(), std::move(handler), state, std::move(error));
    }
}

} // namespace corvane
