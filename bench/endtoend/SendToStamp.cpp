#include "SendToStamp.h"

#include "SteadyNanoseconds.h"

namespace corvane {

namespace {

constexpr std::chrono::seconds stampLimit{2};

} // namespace

std::expected<std::vector<std::int64_t>, Error> timeSendToStamp(LoopbackSocket& socket,
                                                                std::string_view line,
                                                                std::size_t samples,
                                                                const StampedCounter& peer) {
    std::vector<std::int64_t> latencies;
    latencies.reserve(samples);
    const std::uint64_t before = peer.count();
    for (std::size_t i = 1; i <= samples; ++i) {
        const std::int64_t sent = steadyNanoseconds();
        if (auto done = socket.sendAll(line); !done) {
            return std::unexpected(done.error());
        }
        if (auto counted = peer.waitFor(before + i, stampLimit); !counted) {
            return std::unexpected(counted.error());
        }
        latencies.push_back(peer.lastNanoseconds() - sent);
    }
    return latencies;
}

} // namespace corvane
