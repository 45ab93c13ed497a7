#include "receiver/PairingCode.h"

#include <array>

namespace corvane::PairingCode {

namespace {

// The largest multiple of `count` that 32-bit draws reach; draws at or above it are drawn again
// so that every code is equally likely.
constexpr std::uint64_t unbiasedDrawLimit =
    (std::uint64_t{1} << 32) - ((std::uint64_t{1} << 32) % count);
// A redraw is needed once in 4,300 draws; a source that keeps landing above the limit is broken.
constexpr int maximumDraws = 16;

// The last `length` decimal digits of `value`, leading zeros kept.
std::string format(std::uint32_t value) {
    std::string code(length, '0');
    for (std::size_t at = length; at > 0; value /= 10) {
        code[--at] = static_cast<char>('0' + value % 10);
    }
    return code;
}

} // namespace

std::optional<std::string> draw(SecureRandom& random) {
    for (int attempt = 0; attempt < maximumDraws; ++attempt) {
        std::array<std::uint8_t, sizeof(std::uint32_t)> bytes{};
        // A source that failed once is not asked again in a loop: the failure is the answer.
        if (!random.fill(bytes)) {
            return std::nullopt;
        }
        const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                    std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
        if (value < unbiasedDrawLimit) {
            return format(value);
        }
    }
    return std::nullopt;
}

} // namespace corvane::PairingCode
