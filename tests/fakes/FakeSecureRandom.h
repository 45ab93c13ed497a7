#pragma once

#include "pairing/SecureRandom.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <utility>
#include <vector>

namespace corvane::test {

// A random source a test can script or make fail. Unscripted fills give distinct bytes per call.
class FakeSecureRandom : public SecureRandom {
public:
    bool fails = false;
    // Each fill takes the next script entry when there is one; a short entry leaves the rest.
    std::deque<std::vector<std::uint8_t>> script;
    int fillCalls = 0;

    bool fill(std::span<std::uint8_t> bytes) override {
        ++fillCalls;
        if (fails) {
            return false;
        }
        if (!script.empty()) {
            const std::vector<std::uint8_t> next = std::move(script.front());
            script.pop_front();
            for (std::size_t i = 0; i < bytes.size() && i < next.size(); ++i) {
                bytes[i] = next[i];
            }
            return true;
        }
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(fillCalls * 31 + i * 7);
        }
        return true;
    }
};

} // namespace corvane::test
