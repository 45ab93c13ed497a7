#pragma once

#include "platform/qt/DnsSdPublisher.h"
#include "receiver/Listener.h"
#include "receiver/MainThread.h"

#include <QTcpServer>
#include <expected>
#include <memory>

namespace corvane {

// A Listener on a QTcpServer bound to every IPv4 and IPv6 address. The port is bound when the
// listener is made, so a busy port is the maker's error rather than a later report; accepting and
// advertising wait for start().
class QtTcpListener final : public Listener, public std::enable_shared_from_this<QtTcpListener> {
    struct Key {
        explicit Key() = default;
    };

public:
    // `publisher` may be null: the listener then accepts without advertising itself.
    static std::expected<std::shared_ptr<QtTcpListener>, Error>
    listen(std::uint16_t port, std::shared_ptr<MainThread> mainThread,
           std::shared_ptr<DnsSdPublisher> publisher);

    QtTcpListener(Key, std::shared_ptr<MainThread> mainThread,
                  std::shared_ptr<DnsSdPublisher> publisher);
    ~QtTcpListener() override;

    QtTcpListener(const QtTcpListener&) = delete;
    QtTcpListener& operator=(const QtTcpListener&) = delete;

    // The bound port; differs from the requested one only when that was 0.
    std::uint16_t port() const;

    void setService(AdvertisedService service) override;
    void setStateHandler(StateHandler handler) override;
    void setNewConnectionHandler(NewConnectionHandler handler) override;
    void start() override;
    void cancel() override;

private:
    std::optional<Error> bind(std::uint16_t port);
    void onNewConnection();
    void onAcceptError(QAbstractSocket::SocketError error);
    void shutDown();
    void report(ListenerState state, std::optional<Error> error);

    QTcpServer server_;
    std::shared_ptr<MainThread> mainThread_;
    std::shared_ptr<DnsSdPublisher> publisher_;
    std::optional<AdvertisedService> service_;
    std::optional<DnsSdPublisher::Ticket> publication_;
    StateHandler stateHandler_;
    NewConnectionHandler newConnectionHandler_;
    bool started_ = false;
    bool finished_ = false;
};

} // namespace corvane
