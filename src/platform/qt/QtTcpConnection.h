#pragma once

#include "receiver/Connection.h"
#include "receiver/MainThread.h"

#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// A Connection over an accepted QTcpSocket. No handler ever runs inside a call on this object:
// a read that arrives while a receive is outstanding completes it straight from the socket's
// notification, which the event loop delivers; every other completion and every state report
// goes through the main thread's queue. After its final state report (failed or cancelled) the
// connection forgets its handlers, which breaks the cycle of a handler that holds its own
// connection.
class QtTcpConnection final : public Connection,
                              public std::enable_shared_from_this<QtTcpConnection> {
public:
    // How long a cancelled connection may take to hand its queued bytes to a slow peer.
    static constexpr std::chrono::milliseconds lingerLimit{5000};

    static std::shared_ptr<QtTcpConnection> create(std::unique_ptr<QTcpSocket> socket,
                                                   std::shared_ptr<MainThread> mainThread);

private:
    struct Key {
        explicit Key() = default;
    };

public:
    QtTcpConnection(Key, std::unique_ptr<QTcpSocket> socket,
                    std::shared_ptr<MainThread> mainThread);
    ~QtTcpConnection() override;

    QtTcpConnection(const QtTcpConnection&) = delete;
    QtTcpConnection& operator=(const QtTcpConnection&) = delete;

    void setStateHandler(StateHandler handler) override;
    void start() override;
    void receive(std::size_t minimumLength, std::size_t maximumLength,
                 ReceiveCompletion completion) override;
    void send(Bytes bytes) override;
    void cancel() override;
    std::string peer() const override;

private:
    struct PendingReceive {
        std::size_t minimumLength = 1;
        std::size_t maximumLength = 1;
        ReceiveCompletion completion;
    };

    // Whether a finished read may run its completion at once or must queue it.
    enum class Delivery { now, queued };

    void connectSignals();
    void disconnectSignals();
    void onReadyRead();
    void onPeerClosed();
    void onError(QAbstractSocket::SocketError error);
    void serveReceive(Delivery delivery);
    void completeReceive(ReceivedChunk chunk, Delivery delivery);
    void postCompletion(ReceiveCompletion completion, ReceivedChunk chunk);
    void report(ConnectionState state, std::optional<Error> error);
    void closeSocket();
    void deleteSocket();
    void drainSocket();

    std::unique_ptr<QTcpSocket> socket_;
    // Read once: the socket is gone after the connection closes.
    std::string peer_;
    std::vector<QMetaObject::Connection> signalConnections_;
    std::shared_ptr<MainThread> mainThread_;
    StateHandler stateHandler_;
    std::optional<PendingReceive> pending_;
    Bytes inbox_;
    std::optional<Error> readError_;
    bool peerClosed_ = false;
    bool started_ = false;
    bool finished_ = false;
    bool insideReadyRead_ = false;
};

} // namespace corvane
