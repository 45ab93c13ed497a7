#include "bluetooth/WriteBuffers.h"

namespace corvane {

std::optional<std::vector<Bytes>> WriteBuffers::append(const CentralID& central,
                                                       std::string_view value) {
    Bytes& buffer = buffers_[central];
    if (buffer.size() + value.size() > limit) {
        buffer.clear();
        return std::nullopt;
    }
    buffer.append(value);

    std::vector<Bytes> lines;
    std::size_t start = 0;
    for (auto end = buffer.find('\n'); end != Bytes::npos; end = buffer.find('\n', start)) {
        lines.emplace_back(buffer, start, end - start);
        start = end + 1;
    }
    buffer.erase(0, start);
    return lines;
}

void WriteBuffers::reset(const CentralID& central) {
    buffers_[central].clear();
}

void WriteBuffers::remove(const CentralID& central) {
    buffers_.erase(central);
}

void WriteBuffers::clear() {
    buffers_.clear();
}

} // namespace corvane
