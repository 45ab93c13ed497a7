#pragma once

#include "common/Error.h"

#include <QSocketNotifier>
#include <expected>
#include <functional>
#include <memory>

namespace corvane {

// Turns SIGINT and SIGTERM into a callback on the Qt event loop through a signalfd. Both signals
// must already be blocked in every thread (blockTerminationSignals() first thing in main), so
// that they wait in the descriptor instead of killing the process.
class TerminationSignals {
public:
    static void blockTerminationSignals();

    static std::expected<std::unique_ptr<TerminationSignals>, Error>
    watch(std::function<void()> onSignal);

    TerminationSignals(int fd, std::function<void()> onSignal);
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void readSignal();

    int fd_;
    std::function<void()> onSignal_;
    QSocketNotifier notifier_;
};

} // namespace corvane
