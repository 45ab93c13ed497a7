#include "receiver/TouchReceiver.h"

#include "protocol/TouchService.h"

#include <array>
#include <cstdint>
#include <utility>

namespace corvane {

namespace {

constexpr std::uint32_t codeRange = 1'000'000;
// The largest multiple of codeRange that 32-bit draws reach; draws at or above it are redrawn
// so that every code is equally likely.
constexpr std::uint64_t unbiasedDrawLimit =
    (std::uint64_t{1} << 32) - ((std::uint64_t{1} << 32) % codeRange);
// A redraw is needed once in 4,300 draws; a source that keeps landing above the limit is broken.
constexpr int maximumDraws = 16;

constexpr const char* codeUnavailableText =
    "Could not draw a pairing code: Secure random data is unavailable";
constexpr const char* notAdvertisedPrefix = "Phones cannot find this computer: ";

} // namespace

std::shared_ptr<TouchReceiver> TouchReceiver::create(ReceiverPlatform platform) {
    auto receiver = std::make_shared<TouchReceiver>(ConstructionKey{}, std::move(platform));
    receiver->platform_.trust->onTrustChanged([weak = std::weak_ptr<TouchReceiver>(receiver)] {
        if (const auto self = weak.lock()) {
            self->trustChanged();
        }
    });
    return receiver;
}

TouchReceiver::TouchReceiver(ConstructionKey, ReceiverPlatform platform)
    : platform_(std::move(platform)), hasAccessibility_(platform_.trust->isTrusted()),
      storageStatus_(platform_.storageStatus), injector_(platform_.events) {}

TouchReceiver::~TouchReceiver() {
    releaseInputState();
}

const std::string& TouchReceiver::status() const {
    return status_;
}
const std::string& TouchReceiver::code() const {
    return code_;
}
bool TouchReceiver::isRunning() const {
    return isRunning_;
}
bool TouchReceiver::hasAccessibility() const {
    return hasAccessibility_;
}
const std::string& TouchReceiver::bluetoothStatus() const {
    return bluetoothStatus_;
}
const std::string& TouchReceiver::pairingStatus() const {
    return pairingStatus_;
}
const std::string& TouchReceiver::publishingStatus() const {
    return publishingStatus_;
}
const std::string& TouchReceiver::storageStatus() const {
    return storageStatus_;
}

void TouchReceiver::setHasAccessibility(bool value) {
    const auto keepAlive = shared_from_this();
    publish(hasAccessibility_, value, PublishedField::hasAccessibility);
}

TouchReceiver::ObserverId TouchReceiver::addObserver(Observer observer) {
    const ObserverId id = nextObserverId_++;
    observers_.push_back(std::make_shared<ObserverEntry>(id, std::move(observer)));
    return id;
}

void TouchReceiver::removeObserver(ObserverId id) {
    std::erase_if(observers_, [id](const std::shared_ptr<ObserverEntry>& entry) {
        if (entry->id != id) {
            return false;
        }
        entry->removed = true;
        return true;
    });
}

void TouchReceiver::publish(std::string& field, std::string value, PublishedField which) {
    field = std::move(value);
    notify(which);
}

void TouchReceiver::publish(bool& field, bool value, PublishedField which) {
    field = value;
    notify(which);
}

void TouchReceiver::notify(PublishedField which) {
    // Observers may add or remove observers while they run: iterate a snapshot.
    const auto snapshot = observers_;
    for (const auto& entry : snapshot) {
        if (!entry->removed) {
            entry->observer(which);
        }
    }
}

void TouchReceiver::setStatus(std::string value) {
    publish(status_, std::move(value), PublishedField::status);
}

void TouchReceiver::setCode(std::string value) {
    // A new code has met no guesses yet.
    wrongGuesses_ = 0;
    publish(code_, std::move(value), PublishedField::code);
}

// These fields change with every hello of a guessing client or every daemon hiccup; observers
// hear only of real changes.
void TouchReceiver::publishIfChanged(std::string& field, std::string value, PublishedField which) {
    if (field != value) {
        publish(field, std::move(value), which);
    }
}

void TouchReceiver::postToMain(std::function<void(TouchReceiver&)> work) {
    platform_.mainThread->post([weak = weak_from_this(), work = std::move(work)] {
        if (const auto self = weak.lock()) {
            work(*self);
        }
    });
}

void TouchReceiver::start() {
    // Observers run inside; one of them may drop the last outside reference.
    const auto keepAlive = shared_from_this();
    if (isRunning_) {
        return;
    }
    // Observers run at every published change below and may stop or start this receiver
    // themselves; the rest of this start is then no longer wanted.
    const std::uint64_t stopsBefore = stopCount_;
    const auto interrupted = [&] { return isRunning_ || stopCount_ != stopsBefore; };

    startAwaitingTrust_ = false;
    const bool trusted = platform_.trust->isTrusted();
    setHasAccessibility(trusted);
    if (interrupted()) {
        return;
    }
    if (!trusted) {
        // This call stays stopped whatever the prompt answers; a grant that the desktop reports
        // later completes the start (trustChanged).
        setStatus("Grant Accessibility access, then start the receiver.");
        // Unless a status observer stopped the receiver meanwhile.
        startAwaitingTrust_ = stopCount_ == stopsBefore;
        platform_.trust->requestTrust();
        setHasAccessibility(platform_.trust->isTrusted());
        return;
    }
    if (!createRegistry()) {
        return;
    }
    auto code = newPairingCode();
    if (!code) {
        setStatus(codeUnavailableText);
        return;
    }
    setCode(std::move(*code));
    if (interrupted()) {
        return;
    }

    auto created = platform_.listeners->makeListener(TouchService::port);
    if (!created) {
        setStatus("Could not listen: " + created.error().description());
        return;
    }
    const std::shared_ptr<Listener> listener = std::move(*created);
    listener->setService(advertisedService());
    installListenerHandlers(listener);
    listener_ = listener;

    publish(isRunning_, true, PublishedField::isRunning);
    setStatus("Starting receiver…");
    // An observer may have stopped (and even restarted) the receiver just now; that stop
    // ended this start, and a nested start has already made its own transport.
    if (stopCount_ != stopsBefore) {
        return;
    }
    listener->start();
    startBluetooth();
}

void TouchReceiver::stop() {
    const auto keepAlive = shared_from_this();
    ++stopCount_;
    startAwaitingTrust_ = false;
    releaseInputState();
    recordTcpDeparture();
    if (bluetoothClient_) {
        record(ClientEvent::left, Transport::bluetooth, *bluetoothClient_);
    }
    if (client_) {
        client_->cancel();
    }
    if (listener_) {
        listener_->cancel();
    }

    stopBluetooth();

    pairedClients_.reset();
    client_.reset();
    listener_.reset();
    authenticated_ = false;
    buffer_.clear();

    setCode("");
    publish(isRunning_, false, PublishedField::isRunning);
    setStatus("Stopped");
    publish(bluetoothStatus_, "Bluetooth stopped", PublishedField::bluetoothStatus);
    publishIfChanged(publishingStatus_, "", PublishedField::publishingStatus);
}

void TouchReceiver::applyInput(const TouchMessage& message) {
    injector_.applyInput(message);
}

void TouchReceiver::installListenerHandlers(const std::shared_ptr<Listener>& listener) {
    // The listener owns these handlers, so they hold it weakly.
    const std::weak_ptr<Listener> source = listener;
    listener->setStateHandler([weak = weak_from_this(), source](ListenerState state,
                                                                std::optional<Error> error) {
        if (const auto self = weak.lock()) {
            self->postToMain([source, state, error = std::move(error)](TouchReceiver& receiver) {
                receiver.handleListenerState(source.lock(), state, error);
            });
        }
    });
    listener->setNewConnectionHandler(
        [weak = weak_from_this(), source](std::shared_ptr<Connection> connection) {
            if (const auto self = weak.lock()) {
                self->postToMain([source, connection](TouchReceiver& receiver) {
                    receiver.handleNewConnection(source.lock(), connection);
                });
            }
        });
    listener->setAdvertisingHandler(
        [weak = weak_from_this(), source](std::optional<Error> problem) {
            if (const auto self = weak.lock()) {
                self->postToMain([source, problem = std::move(problem)](TouchReceiver& receiver) {
                    receiver.handleAdvertising(source.lock(), problem);
                });
            }
        });
}

void TouchReceiver::handleListenerState(const std::shared_ptr<Listener>& source,
                                        ListenerState state, const std::optional<Error>& error) {
    // A listener that has been replaced or dropped has nothing more to say.
    if (!source || source != listener_) {
        return;
    }
    switch (state) {
    case ListenerState::ready:
        setStatus("Ready for pairing");
        break;
    case ListenerState::failed:
        stop();
        setStatus("Network error: " + (error ? error->description() : std::string()));
        break;
    case ListenerState::setup:
    case ListenerState::waiting:
    case ListenerState::cancelled:
        break;
    }
}

void TouchReceiver::handleNewConnection(const std::shared_ptr<Listener>& source,
                                        std::shared_ptr<Connection> connection) {
    // A connection that a dropped listener accepted must not be admitted while stopped.
    if (!source || source != listener_) {
        connection->cancel();
        return;
    }
    accept(std::move(connection));
}

void TouchReceiver::handleAdvertising(const std::shared_ptr<Listener>& source,
                                      const std::optional<Error>& problem) {
    if (!source || source != listener_) {
        return;
    }
    publishIfChanged(publishingStatus_,
                     problem ? notAdvertisedPrefix + problem->description() : std::string(),
                     PublishedField::publishingStatus);
}

std::optional<std::string> TouchReceiver::newPairingCode() {
    for (int attempt = 0; attempt < maximumDraws; ++attempt) {
        std::array<std::uint8_t, sizeof(std::uint32_t)> bytes{};
        // A source that failed once is not asked again in a loop: the failure is the answer.
        if (!platform_.random->fill(bytes)) {
            return std::nullopt;
        }
        const std::uint32_t draw = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
        if (draw >= unbiasedDrawLimit) {
            continue;
        }
        // Six digits, leading zeros kept.
        std::string code(6, '0');
        for (std::uint32_t value = draw % codeRange, at = 6; value != 0; value /= 10) {
            code[--at] = static_cast<char>('0' + value % 10);
        }
        return code;
    }
    return std::nullopt;
}

bool TouchReceiver::drawNewCode() {
    auto code = newPairingCode();
    if (!code) {
        // The old code has been shown and guessed at; going on with it would undo the limits.
        stop();
        setStatus(codeUnavailableText);
        return false;
    }
    setCode(std::move(*code));
    return true;
}

void TouchReceiver::releaseHeldButton() {
    injector_.releaseHeldButton();
}

void TouchReceiver::releaseInputState() {
    // The button's release still carries the flags that were active.
    releaseHeldButton();
    injector_.clearModifiers();
}

void TouchReceiver::trustChanged() {
    const auto keepAlive = shared_from_this();
    const bool trusted = platform_.trust->isTrusted();
    setHasAccessibility(trusted);
    if (trusted && startAwaitingTrust_ && !isRunning_) {
        start();
    }
}

} // namespace corvane
