#pragma once

#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

namespace corvane {

// What plain loopback TCP between two threads costs, with no receiver in the way. Each sends
// `line` (ending in a line feed) `samples` times and returns one-way times in nanoseconds.

// A plain echo: each round trip, halved.
std::expected<std::vector<std::int64_t>, Error> measureEchoFloor(std::string_view line,
                                                                 std::size_t samples);

// A plain reader that stamps each line it reads: timed exactly as the receiver is, from the
// send to the stamp, while the sender spins.
std::expected<std::vector<std::int64_t>, Error> measureReadFloor(std::string_view line,
                                                                 std::size_t samples);

} // namespace corvane
