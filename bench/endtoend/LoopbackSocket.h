#pragma once

#include "common/Error.h"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace corvane {

// A blocking TCP socket on 127.0.0.1 with Nagle off and bounded waits, so that a stuck peer
// ends a measurement with an error instead of hanging it.
class LoopbackSocket {
public:
    static std::expected<LoopbackSocket, Error> connectTo(std::uint16_t port);
    // Takes over an accepted descriptor.
    static LoopbackSocket adopt(int fd);

    LoopbackSocket(LoopbackSocket&& other) noexcept;
    LoopbackSocket& operator=(LoopbackSocket&& other) noexcept;
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    ~LoopbackSocket();

    std::expected<void, Error> sendAll(std::string_view bytes);
    // The next line without its line feed; an error at the end of the stream.
    std::expected<std::string, Error> readLine();
    // Stops sending, so that the peer reads the end of the stream.
    void shutdownSending();

private:
    explicit LoopbackSocket(int fd);

    int fd_ = -1;
    std::string inbox_;
};

} // namespace corvane
