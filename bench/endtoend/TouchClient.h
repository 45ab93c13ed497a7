#pragma once

#include "CountingEventSink.h"
#include "LoopbackSocket.h"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace corvane {

struct Throughput {
    std::uint64_t messages = 0;
    std::int64_t wallNanoseconds = 0;
    // CPU time the receiver's thread spent meanwhile, kernel work on its socket included.
    std::int64_t receiverCpuNanoseconds = 0;
};

// The phone's side: a plain socket that pairs with the code, then sends lines and watches the
// counting sink to learn when each was posted. Runs on its own thread.
class TouchClient {
public:
    // Reads the receiver thread's CPU clock, in nanoseconds.
    using CpuClock = std::function<std::int64_t()>;

    static std::expected<TouchClient, Error> pair(std::uint16_t port, std::string_view code,
                                                  std::shared_ptr<const CountingEventSink> sink);

    // Sends `line` once per sample, each after the one before was posted; send-to-post times.
    std::expected<std::vector<std::int64_t>, Error> measureLatency(std::string_view line,
                                                                   std::size_t samples);
    // Streams `line` `messages` times as fast as the socket takes it, until all are posted.
    std::expected<Throughput, Error>
    measureThroughput(std::string_view line, std::uint64_t messages, const CpuClock& receiverCpu);

private:
    TouchClient(LoopbackSocket socket, std::shared_ptr<const CountingEventSink> sink);

    LoopbackSocket socket_;
    std::shared_ptr<const CountingEventSink> sink_;
};

} // namespace corvane
