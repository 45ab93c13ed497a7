#pragma once

#include "LoopbackSocket.h"
#include "StampedCounter.h"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

namespace corvane {

// Sends `line` once per sample, each only after the peer has counted the one before, and
// returns the nanoseconds from each send to the peer's stamp of it.
std::expected<std::vector<std::int64_t>, Error> timeSendToStamp(LoopbackSocket& socket,
                                                                std::string_view line,
                                                                std::size_t samples,
                                                                const StampedCounter& peer);

} // namespace corvane
