#pragma once

#include "receiver/Clock.h"

#include <QObject>

namespace corvane {

// The monotonic clock, with wake-ups as timers on the Qt event loop of the thread that created
// it. Wake-ups still pending when it is destroyed never run.
class QtClock final : public Clock {
public:
    Duration now() const override;
    void runAfter(Duration delay, std::function<void()> task) override;

private:
    QObject context_;
};

} // namespace corvane
