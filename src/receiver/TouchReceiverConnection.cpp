#include "protocol/TouchService.h"
#include "receiver/TouchReceiver.h"

#include <cstddef>
#include <utility>

namespace corvane {

namespace {

constexpr std::int64_t rejectionsPerConnection = 3;

} // namespace

bool TouchReceiver::isClient(const std::shared_ptr<Connection>& connection) const {
    return connection && connection == client_;
}

void TouchReceiver::accept(std::shared_ptr<Connection> connection) {
    // One phone at a time, over either transport.
    if (client_ || bluetoothClient_) {
        record(ClientEvent::refused, Transport::tcp, connection->peer());
        connection->cancel();
        return;
    }
    client_ = connection;
    authenticated_ = false;
    attempts_ = 0;
    buffer_.clear();
    setStatus("Touch device connecting…");
    // The connection owns its handler, so the handler holds it weakly. Chunks already arrive from
    // the main loop, so each is handled at once: another pass of the loop would only add latency
    // to every touch.
    connection->start([weak = weak_from_this(),
                       source = std::weak_ptr<Connection>(connection)](ReceivedChunk chunk) {
        if (const auto self = weak.lock()) {
            self->handleReceived(source.lock(), std::move(chunk));
        }
    });
}

void TouchReceiver::handleReceived(const std::shared_ptr<Connection>& connection,
                                   ReceivedChunk chunk) {
    if (!isClient(connection)) {
        return;
    }
    // Once consume has ended this client, its stay is over: a second disconnect would draw
    // another code and overwrite the status that explains why it ended.
    if (!chunk.content.empty() && !consume(chunk.content, connection)) {
        return;
    }
    if (chunk.isComplete || chunk.error) {
        disconnect();
    }
}

bool TouchReceiver::consume(const Bytes& chunk, const std::shared_ptr<Connection>& connection) {
    buffer_ += chunk;
    // Checked before any line is looked at, so one oversized chunk cannot slip lines through.
    if (buffer_.size() > TouchService::lineLimit) {
        disconnect();
        return false;
    }
    std::size_t start = 0;
    for (auto end = buffer_.find('\n'); end != Bytes::npos; end = buffer_.find('\n', start)) {
        auto message = decoder_.decode(std::string_view(buffer_).substr(start, end - start));
        start = end + 1;
        if (!message) {
            disconnect();
            return false;
        }
        if (!handleLine(*message, connection)) {
            return false;
        }
    }
    buffer_.erase(0, start);
    return true;
}

bool TouchReceiver::handleLine(const TouchMessage& message,
                               const std::shared_ptr<Connection>& connection) {
    if (!authenticated_) {
        return handleHello(message, connection);
    }
    // Trust is asked afresh for every message so that a revocation takes effect at once.
    if (!platform_.trust->isTrusted()) {
        disconnect();
        setStatus("Accessibility access lost");
        return false;
    }
    injector_.applyInput(message);
    return true;
}

bool TouchReceiver::handleHello(const TouchMessage& message,
                                const std::shared_ptr<Connection>& connection) {
    if (message.kind != TouchMessage::Kind::hello) {
        disconnect();
        return false;
    }
    auto admitted = acceptHello(message);
    if (admitted) {
        authenticated_ = true;
        record(admitted->event, Transport::tcp, connection->peer());
        setStatus("Touch device connected");
        send(admitted->reply, *connection);
        return true;
    }
    // A hello that could not be compared counts as a try all the same: the phone cannot tell.
    ++attempts_;
    record(admitted.error(), Transport::tcp, connection->peer());
    send(rejectedReply(), *connection);
    if (attempts_ >= rejectionsPerConnection) {
        disconnect();
        return false;
    }
    // Without a fresh code to draw, the receiver has stopped and this client with it.
    return retireGuessedCode();
}

void TouchReceiver::send(const TouchMessage& message, Connection& connection) {
    if (auto bytes = message.line()) {
        connection.send(std::move(*bytes));
    }
}

void TouchReceiver::recordTcpDeparture() {
    if (client_ && authenticated_) {
        record(ClientEvent::left, Transport::tcp, client_->peer());
    }
}

void TouchReceiver::disconnect() {
    // While a Bluetooth device holds the slot, the button, modifiers, code and status are its own.
    const bool ownsInputState = !bluetoothClient_;
    if (ownsInputState) {
        releaseInputState();
    }
    recordTcpDeparture();
    if (auto connection = std::exchange(client_, nullptr)) {
        connection->cancel();
    }
    authenticated_ = false;
    buffer_.clear();
    if (ownsInputState && isRunning() && drawNewCode()) {
        setStatus("Ready for pairing");
    }
}

} // namespace corvane
