#include "platform/qt/QtClock.h"

#include <QTimer>
#include <chrono>
#include <utility>

namespace corvane {

Clock::Duration QtClock::now() const {
    return std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void QtClock::runAfter(Duration delay, std::function<void()> task) {
    // Precise: a coarse timer may fire a little early, and the caller would only ask again.
    QTimer::singleShot(std::max(delay, Duration::zero()), Qt::PreciseTimer, &context_,
                       [task = std::move(task)] { task(); });
}

} // namespace corvane
