#pragma once

#include <QSocketNotifier>
#include <functional>
#include <string>
#include <string_view>

namespace corvane {

// Hands each line that arrives on a file descriptor (standard input) to a callback, from the
// Qt event loop. At end of input it simply stops watching: a service manager often gives a
// daemon /dev/null as its input, and that must not end the program.
class LineReader {
public:
    // Longer lines are no commands; they are dropped rather than buffered without end.
    static constexpr std::size_t maximumLineLength = 4096;

    LineReader(int fd, std::function<void(std::string_view)> onLine);

    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool atEnd() const { return atEnd_; }

private:
    void readAvailable();
    void deliverLines();

    int fd_;
    std::function<void(std::string_view)> onLine_;
    QSocketNotifier notifier_;
    std::string pending_;
    bool discarding_ = false;
    bool atEnd_ = false;
};

} // namespace corvane
