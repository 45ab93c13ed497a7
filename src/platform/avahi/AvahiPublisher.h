#pragma once

#include "platform/avahi/QtAvahiPoll.h"
#include "platform/qt/DnsSdPublisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>

#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// Advertises the listener's service through the Avahi daemon. It never gives up: without a
// daemon it waits for one, after a daemon restart it publishes again, and when another host
// holds the name it moves to Avahi's alternative name ("Name #2"). The publication's state
// handler hears when the service is up and, whenever it is not, why.
class AvahiPublisher final : public DnsSdPublisher {
public:
    // Pause before asking again when the daemon cannot be reached at all (no system bus).
    static constexpr std::chrono::milliseconds retryDelay{5000};

    AvahiPublisher();
    ~AvahiPublisher() override;

    AvahiPublisher(const AvahiPublisher&) = delete;
    AvahiPublisher& operator=(const AvahiPublisher&) = delete;

    Ticket publish(const AdvertisedService& service, std::uint16_t port,
                   StateHandler onState) override;
    void withdraw(Ticket ticket) override;

    // The name currently registered or being registered, after any collision renames.
    std::optional<std::string> currentName() const;

private:
    struct Publication {
        AdvertisedService service;
        std::uint16_t port = 0;
        std::string name;
        Ticket ticket = 0;
        StateHandler onState;
    };

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* self);
    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);

    void connectClient();
    void dropClient();
    void onClientState(AvahiClient* client, AvahiClientState state);
    void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state);
    void registerService(AvahiClient* client);
    void clearGroup();
    void takeAlternativeName();
    void scheduleReconnect(std::chrono::milliseconds delay);
    void report(std::optional<Error> problem);
    void registrationFailed(int error);
    void reportFailure(const std::string& what, int error);

    QtAvahiPoll poll_;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    std::optional<Publication> publication_;
    Ticket lastTicket_ = 0;
    // Why the daemon cannot be used now, told to each new publication until it can.
    std::optional<Error> daemonProblem_;
    QTimer reconnectTimer_;
};

} // namespace corvane
