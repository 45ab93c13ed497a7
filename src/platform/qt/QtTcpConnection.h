#pragma once

#include "receiver/Connection.h"
#include "receiver/MainThread.h"

#include <QObject>
#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <string>

namespace corvane {

// A Connection over an accepted QTcpSocket. Bytes go to the handler straight from the socket's
// notifications, which the event loop delivers; what arrived before start() follows from the
// main thread's queue. Cancelling or ending lets go of the handler.
class QtTcpConnection final : public Connection,
                              public std::enable_shared_from_this<QtTcpConnection> {
    struct Key {
        explicit Key() = default;
    };

public:
    // How long a cancelled connection may take to hand its queued bytes to a slow peer.
    static constexpr std::chrono::milliseconds lingerLimit{5000};

    static std::shared_ptr<QtTcpConnection> create(std::unique_ptr<QTcpSocket> socket,
                                                   std::shared_ptr<MainThread> mainThread);

    QtTcpConnection(Key, std::unique_ptr<QTcpSocket> socket,
                    std::shared_ptr<MainThread> mainThread);
    ~QtTcpConnection() override;

    QtTcpConnection(const QtTcpConnection&) = delete;
    QtTcpConnection& operator=(const QtTcpConnection&) = delete;

    void start(ReceiveHandler handler) override;
    void send(Bytes bytes) override;
    void cancel() override;
    std::string peer() const override;

private:
    void deliverAvailable();
    void end(std::optional<Error> error);
    void closeSocket();

    std::unique_ptr<QTcpSocket> socket_;
    // Read once: the socket is gone after the connection closes.
    std::string peer_;
    std::shared_ptr<MainThread> mainThread_;
    ReceiveHandler handler_;
    // What the socket's signals are connected to, so that closing can part with all of them.
    QObject signalContext_;
};

} // namespace corvane
