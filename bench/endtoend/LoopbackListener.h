#pragma once

#include "LoopbackSocket.h"

#include <cstdint>
#include <expected>

namespace corvane {

// A listening socket on 127.0.0.1 and a port the kernel picks.
class LoopbackListener {
public:
    static std::expected<LoopbackListener, Error> open();

    LoopbackListener(LoopbackListener&& other) noexcept;
    LoopbackListener& operator=(LoopbackListener&& other) = delete;
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    ~LoopbackListener();

    std::uint16_t port() const { return port_; }
    std::expected<LoopbackSocket, Error> accept();

private:
    LoopbackListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {}

    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace corvane
