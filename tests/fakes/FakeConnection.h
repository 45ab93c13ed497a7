#pragma once

#include "receiver/Connection.h"

#include <string>
#include <utility>
#include <vector>

namespace corvane::test {

// A connection the test drives: it records what the receiver does, and delivers what the test
// says the peer sent, even after a cancel, as a late report would.
class FakeConnection : public Connection {
public:
    void start(ReceiveHandler handler) override {
        ++starts;
        handler_ = std::move(handler);
    }
    void send(Bytes bytes) override { sent.push_back(std::move(bytes)); }
    void cancel() override { ++cancels; }
    std::string peer() const override { return "192.0.2.7:50412"; }

    // False before start.
    bool deliver(ReceivedChunk chunk) {
        if (handler_) {
            handler_(std::move(chunk));
        }
        return static_cast<bool>(handler_);
    }

    std::vector<Bytes> sent;
    int starts = 0;
    int cancels = 0;

private:
    ReceiveHandler handler_;
};

} // namespace corvane::test
