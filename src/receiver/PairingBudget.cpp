#include "receiver/PairingBudget.h"

#include <algorithm>

namespace corvane {

namespace {

// How far the refill may lie ahead while one allowance is still left.
constexpr PairingBudget::Duration headroom = (PairingBudget::burst - 1) * PairingBudget::interval;

} // namespace

bool PairingBudget::allows(Duration now) const {
    return refilledAt_ <= now + headroom;
}

void PairingBudget::spend(Duration now) {
    refilledAt_ = std::max(refilledAt_, now) + interval;
}

PairingBudget::Duration PairingBudget::nextAllowance() const {
    return refilledAt_ - headroom;
}

} // namespace corvane
