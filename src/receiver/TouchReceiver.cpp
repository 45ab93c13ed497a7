#include "receiver/TouchReceiver.h"

#include "protocol/TouchService.h"
#include "receiver/PairingCode.h"

#include <array>
#include <cstdint>
#include <utility>

namespace corvane {

namespace {

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
    : platform_(std::move(platform)), injector_(platform_.events) {
    published_.hasAccessibility = platform_.trust->isTrusted();
    published_.storageStatus = platform_.storageStatus;
}

TouchReceiver::~TouchReceiver() {
    releaseInputState();
}

void TouchReceiver::setHasAccessibility(bool value) {
    publish(&PublishedState::hasAccessibility, value, PublishedField::hasAccessibility);
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

template<typename Value>
void TouchReceiver::publish(Value PublishedState::*field, Value value, PublishedField which) {
    published_.*field = std::move(value);
    pendingChanges_.push_back(PublishedChange{which, published_});
    if (pendingChanges_.size() == 1) {
        postToMain([](TouchReceiver& receiver) { receiver.deliverChanges(); });
    }
}

// These fields change with every hello of a guessing client or every daemon hiccup; observers
// hear only of real changes.
void TouchReceiver::publishIfChanged(std::string PublishedState::*field, std::string value,
                                     PublishedField which) {
    if (published_.*field != value) {
        publish(field, std::move(value), which);
    }
}

void TouchReceiver::deliverChanges() {
    const auto changes = std::exchange(pendingChanges_, {});
    // An observer may add or remove observers, and whatever it changes is told in a later delivery.
    const auto observers = observers_;
    for (const PublishedChange& change : changes) {
        for (const auto& entry : observers) {
            if (!entry->removed) {
                entry->observer(change);
            }
        }
    }
}

void TouchReceiver::setStatus(std::string value) {
    publish(&PublishedState::status, std::move(value), PublishedField::status);
}

void TouchReceiver::setCode(std::string value) {
    // A new code has met no guesses yet.
    wrongGuesses_ = 0;
    publish(&PublishedState::code, std::move(value), PublishedField::code);
}

void TouchReceiver::setRunning(bool value) {
    publish(&PublishedState::isRunning, value, PublishedField::isRunning);
}

void TouchReceiver::postToMain(std::function<void(TouchReceiver&)> work) {
    platform_.mainThread->post([weak = weak_from_this(), work = std::move(work)] {
        if (const auto self = weak.lock()) {
            work(*self);
        }
    });
}

void TouchReceiver::start() {
    if (isRunning()) {
        return;
    }
    startAwaitingTrust_ = false;
    const bool trusted = platform_.trust->isTrusted();
    setHasAccessibility(trusted);
    if (!trusted) {
        // This call stays stopped whatever the prompt answers; a grant that the desktop reports
        // later completes the start (trustChanged).
        setStatus("Grant Accessibility access, then start the receiver.");
        startAwaitingTrust_ = true;
        platform_.trust->requestTrust();
        setHasAccessibility(platform_.trust->isTrusted());
        return;
    }
    if (!createRegistry()) {
        return;
    }
    auto code = PairingCode::draw(*platform_.random);
    if (!code) {
        setStatus(codeUnavailableText);
        return;
    }
    setCode(std::move(*code));

    auto created = platform_.listeners->makeListener(TouchService::port);
    if (!created) {
        setStatus("Could not listen: " + created.error().description());
        return;
    }
    listener_ = std::move(*created);
    listener_->setService(advertisedService());
    installListenerHandlers(listener_);

    setRunning(true);
    setStatus("Starting receiver…");
    listener_->start();
    startBluetooth();
}

void TouchReceiver::stop() {
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
    setRunning(false);
    setStatus("Stopped");
    publish(&PublishedState::bluetoothStatus, std::string("Bluetooth stopped"),
            PublishedField::bluetoothStatus);
    publishIfChanged(&PublishedState::publishingStatus, "", PublishedField::publishingStatus);
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
    publishIfChanged(&PublishedState::publishingStatus,
                     problem ? notAdvertisedPrefix + problem->description() : std::string(),
                     PublishedField::publishingStatus);
}

bool TouchReceiver::drawNewCode() {
    auto code = PairingCode::draw(*platform_.random);
    if (!code) {
        // The old code has been shown and guessed at; going on with it would undo the limits.
        stop();
        setStatus(codeUnavailableText);
        return false;
    }
    setCode(std::move(*code));
    return true;
}

void TouchReceiver::releaseInputState() {
    // The button's release still carries the flags that were active.
    injector_.releaseHeldButton();
    injector_.clearModifiers();
}

void TouchReceiver::trustChanged() {
    const bool trusted = platform_.trust->isTrusted();
    setHasAccessibility(trusted);
    if (trusted && startAwaitingTrust_ && !isRunning()) {
        start();
    }
}

} // namespace corvane
