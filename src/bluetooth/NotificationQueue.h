#pragma once

#include "bluetooth/PeripheralManager.h"
#include "common/Bytes.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <string_view>

namespace corvane {

// Notification values waiting for the stack, oldest first, each for one central. A reply line
// is cut into values of its own so that no value mixes two lines.
class NotificationQueue {
public:
    // Offers one value to the stack; false leaves it waiting.
    using Send = std::function<bool(const Bytes& value, const CentralID& central)>;

    // Queues `bytes` as consecutive values of at most `chunkSize` bytes (at least 1).
    void enqueue(std::string_view bytes, const CentralID& central, std::size_t chunkSize);
    // Sends values in order until the stack refuses one, which stays first in line.
    void flush(const Send& send);
    // Drops every value for this central; the others keep their order.
    void drop(const CentralID& central);
    void clear();

private:
    struct Chunk {
        Bytes value;
        CentralID central;
    };

    std::deque<Chunk> chunks_;
};

} // namespace corvane
