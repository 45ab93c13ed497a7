#include "LoopbackSocket.h"

#include "SystemError.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace corvane {

namespace {

// Long enough for a loaded machine, short enough that a broken run ends.
constexpr timeval ioTimeout{5, 0};

void tune(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &ioTimeout, sizeof ioTimeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &ioTimeout, sizeof ioTimeout);
}

} // namespace

std::expected<LoopbackSocket, Error> LoopbackSocket::connectTo(std::uint16_t port) {
    LoopbackSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.fd_ < 0) {
        return std::unexpected(systemError("socket"));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return std::unexpected(systemError("connect"));
    }
    tune(socket.fd_);
    return socket;
}

LoopbackSocket LoopbackSocket::adopt(int fd) {
    tune(fd);
    return LoopbackSocket(fd);
}

LoopbackSocket::LoopbackSocket(int fd) : fd_(fd) {}

LoopbackSocket::LoopbackSocket(LoopbackSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), inbox_(std::move(other.inbox_)) {}

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        inbox_ = std::move(other.inbox_);
    }
    return *this;
}

LoopbackSocket::~LoopbackSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::expected<void, Error> LoopbackSocket::sendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(systemError("send"));
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return {};
}

std::expected<std::string, Error> LoopbackSocket::readLine() {
    std::array<char, 4096> chunk{};
    for (;;) {
        if (const auto end = inbox_.find('\n'); end != std::string::npos) {
            std::string line = inbox_.substr(0, end);
            inbox_.erase(0, end + 1);
            return line;
        }
        const ssize_t received = ::recv(fd_, chunk.data(), chunk.size(), 0);
        if (received == 0) {
            return std::unexpected(Error("the peer closed the connection"));
        }
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(systemError("recv"));
        }
        inbox_.append(chunk.data(), static_cast<std::size_t>(received));
    }
}

void LoopbackSocket::shutdownSending() {
    ::shutdown(fd_, SHUT_WR);
}

} // namespace corvane
