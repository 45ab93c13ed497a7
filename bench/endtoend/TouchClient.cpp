#include "TouchClient.h"

#include "SendToStamp.h"
#include "SteadyNanoseconds.h"
#include "pairing/Uuid.h"
#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

namespace corvane {

namespace {

constexpr std::chrono::seconds streamLimit{60};
// Whole lines per write while streaming: big writes keep the sender out of the way.
constexpr std::size_t streamBatchBytes = 64 * 1024;

std::expected<void, Error> sendHello(LoopbackSocket& socket, std::string_view code) {
    TouchMessage hello;
    hello.kind = TouchMessage::Kind::hello;
    hello.code = std::string(code);
    hello.clientID = newUppercaseUuid();
    return socket.sendAll(*hello.line());
}

std::expected<void, Error> expectAccepted(LoopbackSocket& socket) {
    auto reply = socket.readLine();
    if (!reply) {
        return std::unexpected(Error("no reply to hello: " + reply.error().description()));
    }
    auto message = TouchMessageDecoder().decode(*reply);
    if (!message || message->kind != TouchMessage::Kind::accepted || !message->token) {
        return std::unexpected(Error("hello not accepted with a new pairing: " + *reply));
    }
    return {};
}

std::string repeated(std::string_view line, std::size_t times) {
    std::string batch;
    batch.reserve(line.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        batch += line;
    }
    return batch;
}

} // namespace

std::expected<TouchClient, Error> TouchClient::pair(std::uint16_t port, std::string_view code,
                                                    std::shared_ptr<const CountingEventSink> sink) {
    auto socket = LoopbackSocket::connectTo(port);
    if (!socket) {
        return std::unexpected(socket.error());
    }
    if (auto sent = sendHello(*socket, code); !sent) {
        return std::unexpected(sent.error());
    }
    if (auto accepted = expectAccepted(*socket); !accepted) {
        return std::unexpected(accepted.error());
    }
    return TouchClient(std::move(*socket), std::move(sink));
}

TouchClient::TouchClient(LoopbackSocket socket, std::shared_ptr<const CountingEventSink> sink)
    : socket_(std::move(socket)), sink_(std::move(sink)) {}

std::expected<std::vector<std::int64_t>, Error> TouchClient::measureLatency(std::string_view line,
                                                                            std::size_t samples) {
    return timeSendToStamp(socket_, line, samples, sink_->posts());
}

std::expected<Throughput, Error> TouchClient::measureThroughput(std::string_view line,
                                                                std::uint64_t messages,
                                                                const CpuClock& receiverCpu) {
    const std::size_t linesPerBatch = std::max<std::size_t>(streamBatchBytes / line.size(), 1);
    const std::string batch = repeated(line, linesPerBatch);
    const StampedCounter& posts = sink_->posts();
    const std::uint64_t before = posts.count();

    const std::int64_t cpuAtStart = receiverCpu();
    const std::int64_t start = steadyNanoseconds();
    for (std::uint64_t left = messages; left > 0;) {
        const std::uint64_t lines = std::min<std::uint64_t>(left, linesPerBatch);
        const auto bytes = std::string_view(batch).substr(0, lines * line.size());
        if (auto done = socket_.sendAll(bytes); !done) {
            return std::unexpected(done.error());
        }
        left -= lines;
    }
    if (auto posted = posts.waitFor(before + messages, streamLimit); !posted) {
        return std::unexpected(Error("the receiver " + posted.error().description()));
    }
    return Throughput{messages, posts.lastNanoseconds() - start, receiverCpu() - cpuAtStart};
}

} // namespace corvane
