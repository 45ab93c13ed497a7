#pragma once

#include "receiver/Clock.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace corvane::test {

// Time that moves only when the test says so; wake-ups run as it passes their moment.
class FakeClock : public Clock {
public:
    Duration now() const override { return now_; }

    void runAfter(Duration delay, std::function<void()> task) override {
        pending_.push_back({now_ + delay, std::move(task)});
    }

    // Moves time on by `step`, running every wake-up that falls due, earliest first.
    void advance(Duration step) {
        const Duration until = now_ + step;
        for (;;) {
            const auto due =
                std::min_element(pending_.begin(), pending_.end(),
                                 [](const Wake& a, const Wake& b) { return a.at < b.at; });
            if (due == pending_.end() || due->at > until) {
                break;
            }
            now_ = std::max(now_, due->at);
            auto task = std::move(due->task);
            pending_.erase(due);
            task();
        }
        now_ = until;
    }

    std::size_t pendingWakes() const { return pending_.size(); }

private:
    struct Wake {
        Duration at;
        std::function<void()> task;
    };

    Duration now_ = std::chrono::hours(1);
    std::vector<Wake> pending_;
};

} // namespace corvane::test
