#include "protocol/TouchService.h"
#include "receiver/TouchReceiver.h"

#include <utility>

namespace corvane {

namespace {

// Three tries per code, as a TCP connection has before it ends and the code is replaced.
constexpr int wrongGuessesPerCode = 3;

constexpr const char* pairingPausedText = "Too many wrong codes: pairing by code is paused";

} // namespace

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
    // Without a registry the stored item goes unread: one too damaged to load must still go.
    const auto forgotten = pairedClients_ ? pairedClients_->forgetAll()
                                          : PairedClients::forgetStored(platform_.pairingStorage);
    if (!forgotten) {
        setStatus("Could not forget devices: " + forgotten.error().description());
        return;
    }
    if (isRunning()) {
        // Drops the connected device and rebuilds the registry from the emptied storage.
        stop();
        start();
    } else {
        setStatus("Paired devices forgotten");
    }
}

std::expected<TouchReceiver::Admission, ClientEvent>
TouchReceiver::acceptHello(const TouchMessage& hello) {
    if (!pairedClients_) {
        return std::unexpected(ClientEvent::rejected);
    }
    // Tokens are never limited: they cannot be guessed, and a paired phone must always get in.
    if (hello.clientID && hello.token && pairedClients_->accepts(*hello.clientID, *hello.token)) {
        return admission(ClientEvent::admittedWithToken, std::nullopt);
    }
    if (!hello.code) {
        return std::unexpected(ClientEvent::rejected);
    }
    if (const auto refused = compareCode(*hello.code)) {
        return std::unexpected(*refused);
    }
    if (!hello.clientID) {
        return admission(ClientEvent::admittedWithCode, std::nullopt);
    }
    auto token = pairedClients_->pair(*hello.clientID);
    if (!token) {
        setStatus("Could not save pairing: " + token.error().description());
        return std::unexpected(ClientEvent::rejected);
    }
    return admission(ClientEvent::pairedWithCode, std::move(*token));
}

// Only wrong codes spend the budget, so a user pairing phone after phone is never held up.
std::optional<ClientEvent> TouchReceiver::compareCode(const std::string& guess) {
    const Clock::Duration now = platform_.clock->now();
    // The pause was published when the last allowance went, and ends with the wake-up.
    if (!budget_.allows(now)) {
        return ClientEvent::budgetSpent;
    }
    if (guess != code()) {
        budget_.spend(now);
        ++wrongGuesses_;
        updatePairingStatus();
        return ClientEvent::rejected;
    }
    return std::nullopt;
}

bool TouchReceiver::retireGuessedCode() {
    return !isRunning() || wrongGuesses_ < wrongGuessesPerCode || drawNewCode();
}

void TouchReceiver::updatePairingStatus() {
    const Clock::Duration now = platform_.clock->now();
    const bool spent = !budget_.allows(now);
    // One wake-up at a time, however many hellos meet the spent budget meanwhile.
    if (spent && !budgetCheckPending_) {
        budgetCheckPending_ = true;
        platform_.clock->runAfter(budget_.nextAllowance() - now, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->budgetCheckPending_ = false;
                self->updatePairingStatus();
            }
        });
    }
    publishIfChanged(&PublishedState::pairingStatus, spent ? pairingPausedText : "",
                     PublishedField::pairingStatus);
}

TouchMessage TouchReceiver::rejectedReply() {
    TouchMessage reply;
    reply.kind = TouchMessage::Kind::rejected;
    return reply;
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
