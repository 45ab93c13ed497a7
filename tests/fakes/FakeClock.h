#pragma once

#include "receiver/Clock.h"

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

namespace corvane::test {

// Time that moves only when the test says so; wake-ups run as it passes their moment.
class FakeClock : public Clock {
public:
    Duration now() const override { return now_; }

    void runAfter(Duration delay, std::function<void()> task) override {
        pending_.emplace(now_ + delay, std::move(task));
    }

    // Moves time on by `step`, running every wake-up that falls due, earliest first (and those
    // due together in the order they were asked for).
    void advance(Duration step) {
        const Duration until = now_ + step;
        while (!pending_.empty() && pending_.begin()->first <= until) {
            auto due = pending_.extract(pending_.begin());
            now_ = std::max(now_, due.key());
            due.mapped()();
        }
        now_ = until;
    }

private:
    Duration now_ = std::chrono::hours(1);
    std::multimap<Duration, std::function<void()>> pending_;
};

} // namespace corvane::test
