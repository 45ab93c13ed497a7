#pragma once

#include <cstdint>
#include <span>

namespace corvane {

// The system's cryptographically secure random source.
class SecureRandom {
public:
    virtual ~SecureRandom() = default;

    // Fills every byte; false when the source could not deliver.
    virtual bool fill(std::span<std::uint8_t> bytes) = 0;
};

} // namespace corvane
