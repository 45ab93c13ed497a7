#include "protocol/TouchService.h"
#include "receiver/TouchReceiver.h"

#include <utility>

namespace corvane {

bool TouchReceiver::createRegistry() {
    auto registry = PairedClients::create(platform_.pairingStorage);
    if (!registry) {
        setStatus("Pairing storage unavailable: " + registry.error().description());
        return false;
    }
    pairedClients_.emplace(std::move(*registry));
    return true;
}

AdvertisedService TouchReceiver::advertisedService() const {
    auto name = platform_.hostName->localizedName();
    // An empty name cannot be advertised, so it counts as no name.
    if (!name || name->empty()) {
        name = "Mac";
    }
    return AdvertisedService{
        .name = std::move(*name),
        .type = std::string(TouchService::type),
        .txtRecord = {{"id", pairedClients_->hostID()}},
    };
}

void TouchReceiver::forgetPairedDevices() {
    const auto keepAlive = shared_from_this();
    std::optional<PairedClients> temporary;
    PairedClients* registry = pairedClients_ ? &*pairedClients_ : nullptr;
    if (!registry) {
        auto created = PairedClients::create(platform_.pairingStorage);
        if (!created) {
            setStatus("Could not forget devices: " + created.error().description());
            return;
        }
        registry = &temporary.emplace(std::move(*created));
    }
    if (auto forgotten = registry->forgetAll(); !forgotten) {
        setStatus("Could not forget devices: " + forgotten.error().description());
        return;
    }
    if (isRunning_) {
        // Drops the connected device and rebuilds the registry from the emptied storage.
        stop();
        start();
    } else {
        setStatus("Paired devices forgotten");
    }
}

std::optional<TouchReceiver::Admission> TouchReceiver::acceptHello(const TouchMessage& hello) {
    if (!pairedClients_) {
        return std::nullopt;
    }
    if (hello.clientID && hello.token && pairedClients_->accepts(*hello.clientID, *hello.token)) {
        return admission(ClientEvent::admittedWithToken, std::nullopt);
    }
    if (!hello.code || *hello.code != code_) {
        return std::nullopt;
    }
    if (!hello.clientID) {
        return admission(ClientEvent::admittedWithCode, std::nullopt);
    }
    auto token = pairedClients_->pair(*hello.clientID);
    if (!token) {
        setStatus("Could not save pairing: " + token.error().description());
        return std::nullopt;
    }
    return admission(ClientEvent::pairedWithCode, std::move(*token));
}

TouchReceiver::Admission TouchReceiver::admission(ClientEvent event,
                                                  std::optional<std::string> token) const {
    TouchMessage reply;
    reply.kind = TouchMessage::Kind::accepted;
    reply.hostID = pairedClients_->hostID();
    reply.token = std::move(token);
    return Admission{std::move(reply), event};
}

void TouchReceiver::record(ClientEvent event, Transport transport, std::string peer) {
    if (platform_.activity) {
        platform_.activity->record(ClientActivity{event, transport, std::move(peer)});
    }
}

} // namespace corvane
