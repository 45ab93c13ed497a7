#include "SocketFloor.h"

#include "LoopbackListener.h"
#include "SendToStamp.h"
#include "SteadyNanoseconds.h"

#include <thread>
#include <utility>

namespace corvane {

namespace {

struct SocketPair {
    LoopbackSocket client;
    LoopbackSocket server;
};

std::expected<SocketPair, Error> connectedPair() {
    auto listener = LoopbackListener::open();
    if (!listener) {
        return std::unexpected(listener.error());
    }
    // Connecting before accepting completes in the backlog, so neither call can wait forever.
    auto client = LoopbackSocket::connectTo(listener->port());
    if (!client) {
        return std::unexpected(client.error());
    }
    auto server = listener->accept();
    if (!server) {
        return std::unexpected(server.error());
    }
    return SocketPair{std::move(*client), std::move(*server)};
}

// Both serve until the stream ends.
void echoLines(LoopbackSocket socket) {
    while (auto line = socket.readLine()) {
        line->push_back('\n');
        if (!socket.sendAll(*line)) {
            return;
        }
    }
}

void stampLines(LoopbackSocket socket, StampedCounter& lines) {
    while (socket.readLine()) {
        lines.mark();
    }
}

std::expected<std::vector<std::int64_t>, Error>
timeRoundTrips(LoopbackSocket& client, std::string_view line, std::size_t samples) {
    std::vector<std::int64_t> oneWay;
    oneWay.reserve(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const std::int64_t sent = steadyNanoseconds();
        if (auto done = client.sendAll(line); !done) {
            return std::unexpected(done.error());
        }
        if (auto back = client.readLine(); !back) {
            return std::unexpected(back.error());
        }
        oneWay.push_back((steadyNanoseconds() - sent) / 2);
    }
    return oneWay;
}

} // namespace

std::expected<std::vector<std::int64_t>, Error> measureEchoFloor(std::string_view line,
                                                                 std::size_t samples) {
    auto pair = connectedPair();
    if (!pair) {
        return std::unexpected(pair.error());
    }
    std::jthread echo(echoLines, std::move(pair->server));
    auto oneWay = timeRoundTrips(pair->client, line, samples);
    // The end of the stream lets the other thread finish, on success or not.
    pair->client.shutdownSending();
    return oneWay;
}

std::expected<std::vector<std::int64_t>, Error> measureReadFloor(std::string_view line,
                                                                 std::size_t samples) {
    auto pair = connectedPair();
    if (!pair) {
        return std::unexpected(pair.error());
    }
    StampedCounter lines;
    std::jthread reader(stampLines, std::move(pair->server), std::ref(lines));
    auto oneWay = timeSendToStamp(pair->client, line, samples, lines);
    pair->client.shutdownSending();
    return oneWay;
}

} // namespace corvane
