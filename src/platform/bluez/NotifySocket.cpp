#include "platform/bluez/NotifySocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace corvane {

std::expected<std::unique_ptr<NotifySocket>, Error> NotifySocket::open(Callbacks callbacks) {
    std::array<int, 2> fds{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()) != 0) {
        return std::unexpected(Error(std::string("socketpair: ") + std::strerror(errno)));
    }
    const int flags = ::fcntl(fds[0], F_GETFL);
    if (flags < 0 || ::fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return std::unexpected(Error(std::string("fcntl: ") + std::strerror(error)));
    }
    return std::make_unique<NotifySocket>(fds[0], fds[1], std::move(callbacks));
}

NotifySocket::NotifySocket(int ownEnd, int peerEnd, Callbacks callbacks)
    : fd_(ownEnd), callbacks_(std::move(callbacks)), readable_(ownEnd, QSocketNotifier::Read),
      writable_(ownEnd, QSocketNotifier::Write) {
    // QDBusUnixFileDescriptor keeps a duplicate; the original is ours to close.
    peer_ = QDBusUnixFileDescriptor(peerEnd);
    ::close(peerEnd);
    writable_.setEnabled(false);
    QObject::connect(&readable_, &QSocketNotifier::activated, &readable_, [this] { onReadable(); });
    QObject::connect(&writable_, &QSocketNotifier::activated, &writable_, [this] { onWritable(); });
}

NotifySocket::~NotifySocket() {
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    ::close(fd_);
}

NotifySocket::SendResult NotifySocket::send(const Bytes& record) {
    if (hungUp_) {
        return SendResult::broken;
    }
    for (;;) {
        const ssize_t sent = ::send(fd_, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            return SendResult::sent;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            writable_.setEnabled(true);
            return SendResult::full;
        }
        return SendResult::broken;
    }
}

void NotifySocket::onReadable() {
    // BlueZ never writes to us; readability means its end is gone (or stray bytes to drop).
    std::array<char, 512> buffer{};
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got > 0) {
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        hangUp();
        return;
    }
}

void NotifySocket::onWritable() {
    writable_.setEnabled(false);
    if (callbacks_.writable) {
        callbacks_.writable();
    }
}

void NotifySocket::hangUp() {
    hungUp_ = true;
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    if (callbacks_.hungUp) {
        callbacks_.hungUp();
    }
}

} // namespace corvane
