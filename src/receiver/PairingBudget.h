#pragma once

#include "receiver/Clock.h"

#include <chrono>

namespace corvane {

// How many wrong pairing codes the receiver will hear, across every connection and central: a
// few at once, then one per interval. At one guess per interval against a six-digit code that is
// replaced after three wrong guesses, the expected time to pair by chance is a million intervals.
class PairingBudget {
public:
    using Duration = Clock::Duration;

    static constexpr int burst = 5;
    static constexpr Duration interval = std::chrono::seconds(40);

    // Whether a code may be compared at `now`.
    bool allows(Duration now) const;
    // A compared code was wrong: one allowance is gone.
    void spend(Duration now);
    // When the next code may be compared; `now` or earlier while one may.
    Duration nextAllowance() const;

private:
    // When every spent allowance will have come back.
    Duration refilledAt_ = Duration::zero();
};

} // namespace corvane
