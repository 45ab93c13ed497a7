#include "platform/system/SodiumRandom.h"

#include <sodium.h>

namespace corvane {

bool SodiumRandom::fill(std::span<std::uint8_t> bytes) {
    // Idempotent and cheap after the first call; -1 means the library cannot run safely.
    if (sodium_init() < 0) {
        return false;
    }
    randombytes_buf(bytes.data(), bytes.size());
    return true;
}

} // namespace corvane
