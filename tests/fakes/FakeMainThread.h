#pragma once

#include "receiver/MainThread.h"

#include <deque>
#include <functional>
#include <utility>

namespace corvane::test {

// Queues posted tasks until the test runs them.
class FakeMainThread : public MainThread {
public:
    void post(std::function<void()> task) override { tasks_.push_back(std::move(task)); }

    // Runs every task, including those posted while running.
    void runAll() {
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
        }
    }

private:
    std::deque<std::function<void()>> tasks_;
};

} // namespace corvane::test
