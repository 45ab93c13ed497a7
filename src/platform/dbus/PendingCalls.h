#pragma once

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace corvane {

// Owns the watchers of asynchronous D-Bus calls. A call still in flight when its owner goes
// never reports, so a completion may use the owner freely.
class PendingCalls {
public:
    // Receives the reply, or the error message.
    using Completion = std::function<void(const QDBusMessage& reply)>;

    PendingCalls() = default;
    PendingCalls(const PendingCalls&) = delete;
    PendingCalls& operator=(const PendingCalls&) = delete;

    void watch(const QDBusPendingCall& call, Completion completion);

private:
    std::map<std::uint64_t, std::unique_ptr<QDBusPendingCallWatcher>> watchers_;
    std::uint64_t next_ = 0;
};

} // namespace corvane
