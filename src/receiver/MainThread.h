#pragma once

#include <functional>

namespace corvane {

// The main thread's event loop, where all of the receiver's work runs.
class MainThread {
public:
    virtual ~MainThread() = default;

    // Runs `task` later on the main thread, after the current work and earlier posts.
    virtual void post(std::function<void()> task) = 0;
};

} // namespace corvane
