#pragma once

#include "pairing/SecureRandom.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace corvane::test {

// A random source that can be scripted or made to fail. A fill takes the next script entry when
// there is one (a short entry leaves the rest); otherwise it counts up, byte by byte, across calls.
class FakeSecureRandom : public SecureRandom {
public:
    bool fails = false;
    std::deque<std::vector<std::uint8_t>> script;
    std::uint8_t next = 0;

    bool fill(std::span<std::uint8_t> bytes) override {
        if (fails) {
            return false;
        }
        if (!script.empty()) {
            const auto entry = std::move(script.front());
            script.pop_front();
            std::copy_n(entry.begin(), std::min(entry.size(), bytes.size()), bytes.begin());
            return true;
        }
        for (std::uint8_t& byte : bytes) {
            byte = next++;
        }
        return true;
    }
};

} // namespace corvane::test
