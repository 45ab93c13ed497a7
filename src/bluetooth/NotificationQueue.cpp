#include "bluetooth/NotificationQueue.h"

#include <algorithm>

namespace corvane {

void NotificationQueue::enqueue(std::string_view bytes, const CentralID& central,
                                std::size_t chunkSize) {
    const std::size_t size = std::max<std::size_t>(chunkSize, 1);
    for (std::size_t start = 0; start < bytes.size(); start += size) {
        chunks_.push_back(Chunk{Bytes(bytes.substr(start, size)), central});
    }
}

void NotificationQueue::flush(const Send& send) {
    while (!chunks_.empty() && send(chunks_.front().value, chunks_.front().central)) {
        chunks_.pop_front();
    }
}

void NotificationQueue::drop(const CentralID& central) {
    std::erase_if(chunks_, [&](const Chunk& chunk) { return chunk.central == central; });
}

void NotificationQueue::clear() {
    chunks_.clear();
}

} // namespace corvane
