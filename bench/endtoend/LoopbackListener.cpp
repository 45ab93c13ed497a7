#include "LoopbackListener.h"

#include "SystemError.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace corvane {

std::expected<LoopbackListener, Error> LoopbackListener::open() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::unexpected(systemError("socket"));
    }
    LoopbackListener listener(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::unexpected(systemError("listen"));
    }
    listener.port_ = ntohs(address.sin_port);
    return listener;
}

LoopbackListener::LoopbackListener(LoopbackListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

LoopbackListener::~LoopbackListener() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::expected<LoopbackSocket, Error> LoopbackListener::accept() {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(systemError("accept"));
    }
    return LoopbackSocket::adopt(fd);
}

} // namespace corvane
