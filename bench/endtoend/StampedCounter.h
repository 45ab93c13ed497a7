#pragma once

#include "common/Error.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>

namespace corvane {

// Counts events on one thread and stamps the latest, so that another thread can spin until an
// event has happened and then learn exactly when.
class StampedCounter {
public:
    // Records one event now.
    void mark();

    std::uint64_t count() const { return count_.load(std::memory_order_acquire); }
    // Steady-clock nanoseconds of the latest event; valid once count() has shown it.
    std::int64_t lastNanoseconds() const { return last_.load(std::memory_order_relaxed); }

    // Spins until count() reaches `target`; an error when `limit` passes first.
    std::expected<void, Error> waitFor(std::uint64_t target, std::chrono::nanoseconds limit) const;

private:
    std::atomic<std::int64_t> last_{0};
    std::atomic<std::uint64_t> count_{0};
};

} // namespace corvane
