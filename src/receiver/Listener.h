#pragma once

#include "common/Error.h"
#include "receiver/Connection.h"

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

enum class ListenerState { setup, waiting, ready, failed, cancelled };

// The DNS-SD service a listener advertises while it runs.
struct AdvertisedService {
    std::string name;
    std::string type;
    std::map<std::string, std::string> txtRecord;
};

// A TCP listener that advertises itself. Handlers run later on the main event loop, never from
// inside a call on this object.
class Listener {
public:
    using StateHandler = std::function<void(ListenerState, std::optional<Error>)>;
    using NewConnectionHandler = std::function<void(std::shared_ptr<Connection>)>;
    // Nothing while the service is advertised (or not yet asked to be), else why it is not.
    using AdvertisingHandler = std::function<void(std::optional<Error>)>;

    virtual ~Listener() = default;

    // The service to advertise once started.
    virtual void setService(AdvertisedService service) = 0;
    // Receives every later state change; `failed` comes with an error.
    virtual void setStateHandler(StateHandler handler) = 0;
    // Receives each new connection, not yet started.
    virtual void setNewConnectionHandler(NewConnectionHandler handler) = 0;
    // Receives every change of the advertisement while started; accepting goes on either way.
    virtual void setAdvertisingHandler(AdvertisingHandler handler) = 0;
    // Begins accepting and advertising; the first state report arrives after this returns.
    virtual void start() = 0;
    // Stops accepting and advertising.
    virtual void cancel() = 0;
};

// Makes listeners; creation fails, with a readable reason, when the port cannot be had.
class ListenerFactory {
public:
    virtual ~ListenerFactory() = default;

    virtual std::expected<std::shared_ptr<Listener>, Error> makeListener(std::uint16_t port) = 0;
};

} // namespace corvane
