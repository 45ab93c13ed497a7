#pragma once

// Public face of the receiver. The private section is the receiver's own business; the public
// operations below are what the app, the headless runner and the transports rely on.

#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "pairing/PairedClients.h"
#include "pairing/SecureRandom.h"
#include "protocol/TouchMessage.h"
#include "receiver/HostName.h"
#include "receiver/Listener.h"
#include "receiver/MainThread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

// Everything the receiver needs from the platform, chosen once by the program.
struct ReceiverPlatform {
    std::shared_ptr<ListenerFactory> listeners;
    std::shared_ptr<AccessibilityTrust> trust;
    std::shared_ptr<EventSink> events;
    std::shared_ptr<MainThread> mainThread;
    std::shared_ptr<HostName> hostName;
    std::shared_ptr<SecureRandom> random;
    PairingStorage pairingStorage;
};

// The state the window shows; observers learn which field was just assigned.
enum class PublishedField { status, code, isRunning, hasAccessibility, bluetoothStatus };

class TouchReceiver : public std::enable_shared_from_this<TouchReceiver> {
public:
    using Observer = std::function<void(PublishedField)>;
    using ObserverId = std::uint64_t;

    // Handlers given to the platform hold the receiver weakly, so it always lives in a shared_ptr.
    static std::shared_ptr<TouchReceiver> create(ReceiverPlatform platform);

    const std::string& status() const;
    const std::string& code() const;
    bool isRunning() const;
    bool hasAccessibility() const;
    const std::string& bluetoothStatus() const;
    void setHasAccessibility(bool value);

    // Called after every assignment to a published field, even of an equal value.
    ObserverId addObserver(Observer observer);
    void removeObserver(ObserverId id);

    void start();
    void stop();
    void forgetPairedDevices();

    // ... operations and state added by the receiver's implementation ...
};

} // namespace corvane
