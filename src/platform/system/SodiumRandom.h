#pragma once

#include "pairing/SecureRandom.h"

namespace corvane {

// The kernel's random source through libsodium.
class SodiumRandom : public SecureRandom {
public:
    bool fill(std::span<std::uint8_t> bytes) override;
};

} // namespace corvane
