#pragma once

#include "common/Bytes.h"
#include "common/Error.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

// What one delivery brings: bytes as they arrived, and possibly the end of the stream after them,
// either because the peer finished sending or because of an error.
struct ReceivedChunk {
    Bytes content;
    bool isComplete = false;
    std::optional<Error> error = std::nullopt;
};

// One accepted TCP connection. Its handler runs on the main event loop, never from inside a call
// on this object.
class Connection {
public:
    // The most bytes one delivery carries.
    static constexpr std::size_t maximumChunk = 4096;

    using ReceiveHandler = std::function<void(ReceivedChunk)>;

    virtual ~Connection() = default;

    // Begins delivering the stream to `handler` in order, as it arrives: chunks of 1 to
    // maximumChunk bytes, then one delivery that ends it (with or without bytes). Nothing is
    // delivered after the end or after cancel().
    virtual void start(ReceiveHandler handler) = 0;
    // Queues the bytes behind everything queued before; failures surface as the stream's end.
    virtual void send(Bytes bytes) = 0;
    // Closes the connection after the queued bytes have gone out.
    virtual void cancel() = 0;
    // The peer's address and port as the user would write them, for the security log.
    virtual std::string peer() const = 0;
};

} // namespace corvane
