#pragma once

#include "platform/qt/DnsSdPublisher.h"
#include "receiver/Listener.h"
#include "receiver/MainThread.h"

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <expected>
#include <memory>

namespace corvane {

// A Listener on one dual-stack socket bound to every IPv4 and IPv6 address, watched by the Qt
// event loop. The port is bound when the listener is made, so a busy port is the maker's error
// rather than a later report; accepting and advertising wait for start(). A connection that died
// in the queue is skipped; a shortage (of descriptors, buffers or memory) pauses accepting for a
// while that grows as long as it lasts; only a socket that no longer listens ends the listener.
// QTcpServer is not used: its socket engine keeps the first error it meets (EAGAIN included) and
// reports it for every later one, which hides both kinds.
class QtTcpListener final : public Listener, public std::enable_shared_from_this<QtTcpListener> {
    struct Key {
        explicit Key() = default;
    };

public:
    // The first pause after a shortage, and the longest.
    static constexpr std::chrono::milliseconds firstAcceptPause{50};
    static constexpr std::chrono::milliseconds longestAcceptPause{2000};

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
    void setAdvertisingHandler(AdvertisingHandler handler) override;
    void start() override;
    void cancel() override;

private:
    std::optional<Error> bind(std::uint16_t port);
    void acceptPending();
    void handOver(int descriptor);
    void pauseAccepting(int error);
    bool stillListening() const;
    void advertise();
    void shutDown();
    void report(ListenerState state, std::optional<Error> error);

    int socket_ = -1;
    std::uint16_t port_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer acceptPause_;
    std::chrono::milliseconds nextPause_ = firstAcceptPause;
    std::shared_ptr<MainThread> mainThread_;
    std::shared_ptr<DnsSdPublisher> publisher_;
    std::optional<AdvertisedService> service_;
    std::optional<DnsSdPublisher::Ticket> publication_;
    StateHandler stateHandler_;
    NewConnectionHandler newConnectionHandler_;
    AdvertisingHandler advertisingHandler_;
    bool started_ = false;
    bool finished_ = false;
};

} // namespace corvane
