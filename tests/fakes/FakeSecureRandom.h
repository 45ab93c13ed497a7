#pragma once

#include "pairing/SecureRandom.h"

#include <cstdint>
#include <span>

namespace corvane::test {

// A random source that can be made to fail; otherwise it counts up, byte by byte, across calls.
class FakeSecureRandom : public SecureRandom {
public:
    bool fails = false;
    std::uint8_t next = 0;

    bool fill(std::span<std::uint8_t> bytes) override {
        for (std::uint8_t& byte : bytes) {
            byte = next++;
        }
        return !fails;
    }
};

} // namespace corvane::test
