#pragma once

#include "common/Error.h"
#include "receiver/Listener.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace corvane {

// Advertises one DNS-SD service at a time on the local network.
class DnsSdPublisher {
public:
    using Ticket = std::uint64_t;
    // Nothing once the service is published, else why phones cannot see it yet.
    using StateHandler = std::function<void(std::optional<Error>)>;

    virtual ~DnsSdPublisher() = default;

    // Advertises `service` on `port` in place of anything published before, and keeps at it
    // through daemon restarts; the ticket names this publication for withdraw(). `onState`
    // hears every change of the publication's state until it is withdrawn or replaced, and may
    // be called from inside this call.
    virtual Ticket publish(const AdvertisedService& service, std::uint16_t port,
                           StateHandler onState) = 0;
    // Stops advertising, unless a later publish() has replaced this publication already.
    virtual void withdraw(Ticket ticket) = 0;
};

} // namespace corvane
