#pragma once

#include <chrono>
#include <functional>

namespace corvane {

// The receiver's only sense of time: a monotonic reading and wake-ups on the main thread.
class Clock {
public:
    using Duration = std::chrono::milliseconds;

    virtual ~Clock() = default;

    // Time since a fixed point in the past; never goes back, whatever the wall clock does.
    virtual Duration now() const = 0;
    // Runs `task` on the main thread once `delay` has passed, never from inside this call.
    virtual void runAfter(Duration delay, std::function<void()> task) = 0;
};

} // namespace corvane
