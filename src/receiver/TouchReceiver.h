#pragma once

// Public face of the receiver. The private section is the receiver's own business; the public
// operations below are what the app, the headless runner and the transports rely on.

#include "bluetooth/PeripheralManager.h"
#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "input/InputInjector.h"
#include "pairing/PairedClients.h"
#include "pairing/SecureRandom.h"
#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"
#include "receiver/ClientActivity.h"
#include "receiver/Clock.h"
#include "receiver/HostName.h"
#include "receiver/Listener.h"
#include "receiver/MainThread.h"
#include "receiver/PairingBudget.h"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class BluetoothTouchReceiver;

// Everything the receiver needs from the platform, chosen once by the program.
struct ReceiverPlatform {
    std::shared_ptr<ListenerFactory> listeners;
    std::shared_ptr<AccessibilityTrust> trust;
    std::shared_ptr<EventSink> events;
    std::shared_ptr<MainThread> mainThread;
    std::shared_ptr<HostName> hostName;
    std::shared_ptr<SecureRandom> random;
    std::shared_ptr<Clock> clock;
    PairingStorage pairingStorage;
    // Null in a build without a Bluetooth stack: the receiver then runs on TCP alone. Defaulted
    // so that a platform spelled out without it still builds warning-free.
    std::shared_ptr<PeripheralManagerFactory> bluetooth = nullptr;
    // Told of every admission decision and departure; null when nobody listens.
    std::shared_ptr<ClientActivityLog> activity = nullptr;
    // What the user should know about where pairings are kept (a store chosen for want of
    // another); empty when there is nothing to say.
    std::string storageStatus = {};
};

// The fields of the state the window shows.
enum class PublishedField {
    status,
    code,
    isRunning,
    hasAccessibility,
    bluetoothStatus,
    pairingStatus,
    publishingStatus,
    storageStatus,
};

// The state the window shows.
struct PublishedState {
    std::string status = "Stopped";
    std::string code;
    bool isRunning = false;
    bool hasAccessibility = false;
    std::string bluetoothStatus = "Bluetooth stopped";
    // Why a right code would not be heard now (too many wrong ones); empty while it would.
    std::string pairingStatus;
    // Why phones cannot find this computer on the network; empty while they can, or stopped.
    std::string publishingStatus;
    // The platform's word on where pairings are kept; empty when there is nothing to say.
    std::string storageStatus;
};

// One assignment to a published field: which field, and the whole state as it stood just after.
struct PublishedChange {
    PublishedField field;
    PublishedState state;
};

class TouchReceiver : public std::enable_shared_from_this<TouchReceiver> {
public:
    using Observer = std::function<void(const PublishedChange&)>;
    using ObserverId = std::uint64_t;

    // Handlers given to the platform hold the receiver weakly, so it always lives in a shared_ptr.
    static std::shared_ptr<TouchReceiver> create(ReceiverPlatform platform);

    // The current state; observers hear of each change later.
    const PublishedState& published() const { return published_; }
    const std::string& status() const { return published_.status; }
    const std::string& code() const { return published_.code; }
    bool isRunning() const { return published_.isRunning; }
    bool hasAccessibility() const { return published_.hasAccessibility; }
    const std::string& bluetoothStatus() const { return published_.bluetoothStatus; }
    const std::string& pairingStatus() const { return published_.pairingStatus; }
    const std::string& publishingStatus() const { return published_.publishingStatus; }
    const std::string& storageStatus() const { return published_.storageStatus; }
    void setHasAccessibility(bool value);

    // Told of every assignment to a published field, even of an equal value, in order; the
    // pairing, publishing and storage statuses are assigned only when they change. Observers
    // are told from the main thread once the operation that made the change has returned, so
    // none ever runs inside one, and each hears the state as it stood after its change.
    ObserverId addObserver(Observer observer);
    void removeObserver(ObserverId id);

    void start();
    void stop();
    void forgetPairedDevices();

    // Public only so that make_shared can reach it; use create().
    struct ConstructionKey {
        explicit ConstructionKey() = default;
    };
    TouchReceiver(ConstructionKey, ReceiverPlatform platform);
    // Lets go of whatever the last phone still holds down, so that nothing stays pressed after
    // the program ends.
    ~TouchReceiver();
    TouchReceiver(const TouchReceiver&) = delete;
    TouchReceiver& operator=(const TouchReceiver&) = delete;

private:
    struct ObserverEntry {
        ObserverId id;
        Observer observer;
        bool removed = false;
    };

    // Published state
    template<typename Value>
    void publish(Value PublishedState::*field, Value value, PublishedField which);
    void publishIfChanged(std::string PublishedState::*field, std::string value,
                          PublishedField which);
    void setStatus(std::string value);
    void setCode(std::string value);
    void setRunning(bool value);
    void deliverChanges();

    // Lifecycle
    bool createRegistry();
    AdvertisedService advertisedService() const;
    void installListenerHandlers(const std::shared_ptr<Listener>& listener);
    void handleListenerState(const std::shared_ptr<Listener>& source, ListenerState state,
                             const std::optional<Error>& error);
    void handleNewConnection(const std::shared_ptr<Listener>& source,
                             std::shared_ptr<Connection> connection);
    void handleAdvertising(const std::shared_ptr<Listener>& source,
                           const std::optional<Error>& problem);
    // Replaces the code while running; without a fresh code the receiver stops and says why.
    bool drawNewCode();
    // The phone's held button and modifier keys, let go when the slot changes hands or ends.
    void releaseInputState();
    // Trust came or went without being asked: shown at once, and a start that waited for it
    // goes on.
    void trustChanged();

    // TCP client
    bool isClient(const std::shared_ptr<Connection>& connection) const;
    void accept(std::shared_ptr<Connection> connection);
    void handleReceived(const std::shared_ptr<Connection>& connection, ReceivedChunk chunk);
    // False when the chunk ended the client's stay.
    bool consume(const Bytes& chunk, const std::shared_ptr<Connection>& connection);
    bool handleLine(const TouchMessage& message, const std::shared_ptr<Connection>& connection);
    bool handleHello(const TouchMessage& message, const std::shared_ptr<Connection>& connection);
    void send(const TouchMessage& message, Connection& connection);
    void disconnect();

    // Bluetooth
    // What the transport reports: a decoded message from a central, answered with the reply to
    // notify back (if any), and a central that is no longer served.
    std::optional<TouchMessage> consumeBluetooth(const TouchMessage& message,
                                                 const CentralID& central);
    void disconnectBluetooth(const CentralID& central);
    void startBluetooth();
    void stopBluetooth();
    bool isBluetoothReceiver(const std::shared_ptr<BluetoothTouchReceiver>& transport) const;
    void installBluetoothHandlers(const std::shared_ptr<BluetoothTouchReceiver>& transport);
    std::optional<TouchMessage> consumeBluetoothHello(const TouchMessage& hello,
                                                      const CentralID& central);
    void setBluetoothStatus(std::string value);

    // Pairing
    struct Admission {
        TouchMessage reply;
        ClientEvent event;
    };
    // The admission, or why the hello was turned away (rejected or budgetSpent).
    std::expected<Admission, ClientEvent> acceptHello(const TouchMessage& hello);
    // Why `guess` is not let in (wrong, or not compared now), or nothing when it is the code.
    std::optional<ClientEvent> compareCode(const std::string& guess);
    Admission admission(ClientEvent event, std::optional<std::string> token) const;
    // What a phone that is not let in hears, over either transport.
    static TouchMessage rejectedReply();
    // A code that has met three wrong guesses is replaced, whichever transport they came over;
    // false when no new one could be drawn and the receiver stopped instead.
    bool retireGuessedCode();
    void updatePairingStatus();

    // Activity
    void record(ClientEvent event, Transport transport, std::string peer);
    void recordTcpDeparture();

    // Runs `work` on the main thread later, if this receiver still exists then.
    void postToMain(std::function<void(TouchReceiver&)> work);

    ReceiverPlatform platform_;

    PublishedState published_;
    // Changes not yet told to the observers, oldest first; a delivery is posted while any wait.
    std::vector<PublishedChange> pendingChanges_;

    std::shared_ptr<Listener> listener_;
    std::shared_ptr<Connection> client_;
    bool authenticated_ = false;
    Bytes buffer_;
    std::int64_t attempts_ = 0;
    InputInjector injector_;
    // The Bluetooth transport while running (when the platform has a Bluetooth stack).
    std::shared_ptr<BluetoothTouchReceiver> bluetoothReceiver_;
    // The admitted Bluetooth central's identifier; set only by the Bluetooth routing.
    std::optional<CentralID> bluetoothClient_;
    std::optional<PairedClients> pairedClients_;
    TouchMessageDecoder decoder_;
    // Kept across stops and starts: a restart must not hand a guesser a fresh allowance.
    PairingBudget budget_;
    bool budgetCheckPending_ = false;
    // Wrong codes compared against the current code, over both transports.
    int wrongGuesses_ = 0;

    // A start was refused for missing trust and neither a start nor a stop came since.
    bool startAwaitingTrust_ = false;
    std::vector<std::shared_ptr<ObserverEntry>> observers_;
    ObserverId nextObserverId_ = 1;
};

} // namespace corvane
