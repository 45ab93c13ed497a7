#pragma once

#include "pairing/SecureRandom.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The code the window shows and a phone presents to pair: a fixed number of decimal digits.
namespace corvane::PairingCode {

inline constexpr std::size_t length = 6;

// How many codes there are: 10 to the power of `length`.
inline constexpr std::uint32_t count = [] {
    std::uint32_t result = 1;
    for (std::size_t digit = 0; digit < length; ++digit) {
        result *= 10;
    }
    return result;
}();

// A fresh code, every one equally likely; nothing when the source fails.
std::optional<std::string> draw(SecureRandom& random);

} // namespace corvane::PairingCode
