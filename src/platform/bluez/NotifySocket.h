#pragma once

#include "common/Bytes.h"
#include "common/Error.h"

#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <expected>
#include <functional>
#include <memory>

namespace corvane {

// Our end of the SOCK_SEQPACKET pair that AcquireNotify hands to BlueZ: each record we write
// becomes one notification. BlueZ closing its end ends the subscription.
class NotifySocket {
public:
    enum class SendResult { sent, full, broken };

    struct Callbacks {
        std::function<void()> hungUp;   // the peer closed its end
        std::function<void()> writable; // room again after a `full` send
    };

    // The pair, with the peer end ready to go into a D-Bus reply.
    static std::expected<std::unique_ptr<NotifySocket>, Error> open(Callbacks callbacks);

    NotifySocket(int ownEnd, int peerEnd, Callbacks callbacks);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const QDBusUnixFileDescriptor& peer() const { return peer_; }
    // Forgets our copy of the peer end once it has been sent, so that only BlueZ holds it.
    void releasePeer() { peer_ = QDBusUnixFileDescriptor(); }

    // One record, never blocking.
    SendResult send(const Bytes& record);

private:
    void onReadable();
    void onWritable();
    void hangUp();

    int fd_;
    QDBusUnixFileDescriptor peer_;
    Callbacks callbacks_;
    QSocketNotifier readable_;
    QSocketNotifier writable_;
    bool hungUp_ = false;
};

} // namespace corvane
