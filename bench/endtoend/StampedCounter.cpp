#include "StampedCounter.h"

#include "SteadyNanoseconds.h"

#include <string>

namespace corvane {

void StampedCounter::mark() {
    // The stamp goes first: the count's release publishes it to whoever sees the new count.
    last_.store(steadyNanoseconds(), std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_release);
}

std::expected<void, Error> StampedCounter::waitFor(std::uint64_t target,
                                                   std::chrono::nanoseconds limit) const {
    const std::int64_t deadline = steadyNanoseconds() + limit.count();
    // Reading the clock costs far more than the counter; look at it only now and then.
    for (std::uint32_t spins = 0; count() < target; ++spins) {
        if (spins % 1024 == 0 && steadyNanoseconds() > deadline) {
            return std::unexpected(Error("counted " + std::to_string(count()) + " of " +
                                         std::to_string(target) + " in time"));
        }
    }
    return {};
}

} // namespace corvane
