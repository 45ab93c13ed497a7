#include "platform/avahi/AvahiPublisher.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QtGlobal>

namespace corvane {

namespace {

// DNS-SD instance names are one DNS label: at most 63 bytes, cut on a UTF-8 boundary.
std::string serviceInstanceName(const std::string& name) {
    constexpr std::size_t limit = 63;
    if (name.size() <= limit) {
        return name;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end);
}

struct StringListDeleter {
    void operator()(AvahiStringList* list) const { avahi_string_list_free(list); }
};
using StringList = std::unique_ptr<AvahiStringList, StringListDeleter>;

StringList txtRecord(const AdvertisedService& service) {
    AvahiStringList* list = nullptr;
    for (const auto& [key, value] : service.txtRecord) {
        list = avahi_string_list_add_pair(list, key.c_str(), value.c_str());
    }
    return StringList(list);
}

Error daemonNotRunning() {
    return Error("avahi-daemon is not running");
}

} // namespace

AvahiPublisher::AvahiPublisher() {
    reconnectTimer_.setSingleShot(true);
    QObject::connect(&reconnectTimer_, &QTimer::timeout, &reconnectTimer_, [this] {
        dropClient();
        connectClient();
    });
    connectClient();
}

AvahiPublisher::~AvahiPublisher() {
    dropClient();
}

DnsSdPublisher::Ticket AvahiPublisher::publish(const AdvertisedService& service, std::uint16_t port,
                                               StateHandler onState) {
    publication_ = Publication{service, port, serviceInstanceName(service.name), ++lastTicket_,
                               std::move(onState)};
    const Ticket ticket = lastTicket_;
    if (client_ != nullptr && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING) {
        registerService(client_);
    } else if (daemonProblem_) {
        // Otherwise the daemon is settling the host name and the service follows once it runs.
        report(daemonProblem_);
    }
    return ticket;
}

void AvahiPublisher::withdraw(Ticket ticket) {
    if (!publication_ || publication_->ticket != ticket) {
        return;
    }
    publication_.reset();
    clearGroup();
}

std::optional<std::string> AvahiPublisher::currentName() const {
    if (!publication_) {
        return std::nullopt;
    }
    return publication_->name;
}

void AvahiPublisher::connectClient() {
    int error = 0;
    // NO_FAIL: without a daemon the client waits in CONNECTING and registers when one appears.
    client_ = avahi_client_new(poll_.api(), AVAHI_CLIENT_NO_FAIL, &AvahiPublisher::clientCallback,
                               this, &error);
    if (client_ == nullptr) {
        reportFailure("avahi-daemon cannot be reached", error);
        scheduleReconnect(retryDelay);
    }
}

void AvahiPublisher::report(std::optional<Error> problem) {
    if (publication_ && publication_->onState) {
        // A copy: the handler may withdraw this publication.
        auto onState = publication_->onState;
        onState(std::move(problem));
    }
}

void AvahiPublisher::reportFailure(const std::string& what, int error) {
    Error problem(what + " (" + avahi_strerror(error) + ")");
    // Each retry meets the same failure again: the log hears of it once.
    if (problem != daemonProblem_) {
        qWarning("DNS-SD: %s; trying again shortly", problem.description().c_str());
    }
    daemonProblem_ = std::move(problem);
    report(daemonProblem_);
}

void AvahiPublisher::dropClient() {
    // Freeing the client frees its entry groups too.
    group_ = nullptr;
    if (client_ != nullptr) {
        avahi_client_free(client_);
        client_ = nullptr;
    }
}

void AvahiPublisher::scheduleReconnect(std::chrono::milliseconds delay) {
    // Never from inside Avahi's callback: the client being freed is the one calling us.
    reconnectTimer_.start(delay);
}

void AvahiPublisher::clientCallback(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<AvahiPublisher*>(self)->onClientState(client, state);
}

void AvahiPublisher::groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    static_cast<AvahiPublisher*>(self)->onGroupState(group, state);
}

void AvahiPublisher::onClientState(AvahiClient* client, AvahiClientState state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        daemonProblem_.reset();
        if (publication_) {
            registerService(client);
        }
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The daemon is (re)naming the host; our records go out again once it runs.
        if (group_ != nullptr) {
            avahi_entry_group_reset(group_);
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away (restart, crash): wait for the next one.
            daemonProblem_ = daemonNotRunning();
            report(daemonProblem_);
            scheduleReconnect(std::chrono::milliseconds(0));
        } else {
            reportFailure("avahi-daemon failed", avahi_client_errno(client));
            scheduleReconnect(retryDelay);
        }
        break;
    case AVAHI_CLIENT_CONNECTING:
        // Without a daemon on the bus: the client waits for one to appear.
        daemonProblem_ = daemonNotRunning();
        report(daemonProblem_);
        break;
    }
}

void AvahiPublisher::onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state) {
    switch (state) {
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host advertises this name on the network.
        takeAlternativeName();
        registerService(avahi_entry_group_get_client(group));
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        registrationFailed(avahi_client_errno(avahi_entry_group_get_client(group)));
        break;
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        report(std::nullopt);
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void AvahiPublisher::takeAlternativeName() {
    char* alternative = avahi_alternative_service_name(publication_->name.c_str());
    if (alternative != nullptr) {
        publication_->name = serviceInstanceName(alternative);
        avahi_free(alternative);
    }
}

void AvahiPublisher::registerService(AvahiClient* client) {
    if (!publication_) {
        return;
    }
    if (group_ == nullptr) {
        group_ = avahi_entry_group_new(client, &AvahiPublisher::groupCallback, this);
        if (group_ == nullptr) {
            registrationFailed(avahi_client_errno(client));
            return;
        }
    }
    avahi_entry_group_reset(group_);
    const auto txt = txtRecord(publication_->service);
    // A name this daemon already knows collides at once; a bounded number of renames suffices.
    constexpr int maximumRenames = 32;
    for (int attempt = 0; attempt <= maximumRenames; ++attempt) {
        const int result = avahi_entry_group_add_service_strlst(
            group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{},
            publication_->name.c_str(), publication_->service.type.c_str(), nullptr, nullptr,
            publication_->port, txt.get());
        if (result == AVAHI_ERR_COLLISION) {
            takeAlternativeName();
            continue;
        }
        if (result < 0) {
            registrationFailed(result);
            return;
        }
        if (const int committed = avahi_entry_group_commit(group_); committed < 0) {
            registrationFailed(committed);
        }
        return;
    }
}

void AvahiPublisher::registrationFailed(int error) {
    qWarning("DNS-SD registration failed: %s", avahi_strerror(error));
    report(Error(std::string("the daemon refused the service (") + avahi_strerror(error) + ")"));
}

void AvahiPublisher::clearGroup() {
    if (group_ != nullptr) {
        avahi_entry_group_reset(group_);
    }
}

} // namespace corvane
