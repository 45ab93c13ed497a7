#pragma once

#include "common/Bytes.h"
#include "common/Error.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

enum class ConnectionState { setup, waiting, preparing, ready, failed, cancelled };

// What one read delivered: bytes, the peer having finished sending, an error, or a mix.
struct ReceivedChunk {
    std::optional<Bytes> content;
    bool isComplete = false;
    std::optional<Error> error;
};

// One accepted TCP connection. Handlers run later on the main event loop, never from inside a
// call on this object.
class Connection {
public:
    using StateHandler = std::function<void(ConnectionState, std::optional<Error>)>;
    using ReceiveCompletion = std::function<void(ReceivedChunk)>;

    virtual ~Connection() = default;

    // Receives every later state change; `failed` comes with an error.
    virtual void setStateHandler(StateHandler handler) = 0;
    // Lets the connection proceed towards `ready`.
    virtual void start() = 0;
    // Asks for between minimumLength and maximumLength bytes; `completion` runs exactly once.
    virtual void receive(std::size_t minimumLength, std::size_t maximumLength,
                         ReceiveCompletion completion) = 0;
    // Queues the bytes behind everything queued before; failures surface through receive or state.
    virtual void send(Bytes bytes) = 0;
    // Closes the connection after the queued bytes have gone out; a `cancelled` report follows.
    virtual void cancel() = 0;
    // The peer's address and port as the user would write them, for the security log.
    virtual std::string peer() const = 0;
};

} // namespace corvane
