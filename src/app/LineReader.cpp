#include "app/LineReader.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

namespace corvane {

LineReader::LineReader(int fd, std::function<void(std::string_view)> onLine)
    : fd_(fd), onLine_(std::move(onLine)), notifier_(fd, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_,
                     [this] { readAvailable(); });
}

void LineReader::readAvailable() {
    std::array<char, 4096> chunk{};
    const ssize_t count = ::read(fd_, chunk.data(), chunk.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        notifier_.setEnabled(false);
        atEnd_ = true;
        // A last line without its line feed still counts.
        if (!pending_.empty() && !discarding_) {
            onLine_(pending_);
        }
        pending_.clear();
        return;
    }
    pending_.append(chunk.data(), static_cast<std::size_t>(count));
    deliverLines();
}

void LineReader::deliverLines() {
    std::size_t end = 0;
    while ((end = pending_.find('\n')) != std::string::npos) {
        const bool tooLong = end > maximumLineLength;
        const std::string line = pending_.substr(0, tooLong ? 0 : end);
        pending_.erase(0, end + 1);
        if (!std::exchange(discarding_, false) && !tooLong) {
            onLine_(line);
        }
    }
    if (pending_.size() > maximumLineLength) {
        pending_.clear();
        discarding_ = true;
    }
}

} // namespace corvane
