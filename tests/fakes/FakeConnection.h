#pragma once

#include "receiver/Connection.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::test {

// A connection the test drives: it records what the receiver does and delivers what the test
// says the peer did.
class FakeConnection : public Connection {
public:
    struct PendingReceive {
        std::size_t minimumLength = 0;
        std::size_t maximumLength = 0;
        ReceiveCompletion completion;
    };

    void setStateHandler(StateHandler handler) override { stateHandler_ = std::move(handler); }
    void start() override { ++startCount_; }
    void receive(std::size_t minimumLength, std::size_t maximumLength,
                 ReceiveCompletion completion) override {
        ++receiveCount_;
        if (pending_) {
            ++overlappingReceives_;
        }
        pending_ = PendingReceive{minimumLength, maximumLength, std::move(completion)};
    }
    void send(Bytes bytes) override { sent_.push_back(std::move(bytes)); }
    void cancel() override { ++cancelCount_; }
    std::string peer() const override { return "192.0.2.7:50412"; }

    // Reports a state as the platform would; false when no handler is installed.
    bool reportState(ConnectionState state, std::optional<Error> error = std::nullopt) {
        if (!stateHandler_) {
            return false;
        }
        stateHandler_(state, std::move(error));
        return true;
    }

    // Completes the outstanding read; false when none is outstanding.
    bool completeReceive(ReceivedChunk chunk) {
        if (!pending_) {
            return false;
        }
        auto completion = std::move(pending_->completion);
        pending_.reset();
        completion(std::move(chunk));
        return true;
    }

    bool deliver(Bytes bytes) {
        return completeReceive(ReceivedChunk{std::move(bytes), false, {}});
    }

    const std::vector<Bytes>& sent() const { return sent_; }
    const std::optional<PendingReceive>& pendingReceive() const { return pending_; }
    bool hasStateHandler() const { return static_cast<bool>(stateHandler_); }
    int startCount() const { return startCount_; }
    int cancelCount() const { return cancelCount_; }
    int receiveCount() const { return receiveCount_; }
    // Reads asked for while one was still outstanding; the receiver never should.
    int overlappingReceives() const { return overlappingReceives_; }

private:
    StateHandler stateHandler_;
    std::optional<PendingReceive> pending_;
    std::vector<Bytes> sent_;
    int startCount_ = 0;
    int cancelCount_ = 0;
    int receiveCount_ = 0;
    int overlappingReceives_ = 0;
};

} // namespace corvane::test
