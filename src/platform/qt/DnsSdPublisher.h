#pragma once

#include "receiver/Listener.h"

#include <cstdint>

namespace corvane {

// Advertises one DNS-SD service at a time on the local network.
class DnsSdPublisher {
public:
    using Ticket = std::uint64_t;

    virtual ~DnsSdPublisher() = default;

    // Advertises `service` on `port` in place of anything published before; the ticket names
    // this publication for withdraw().
    virtual Ticket publish(const AdvertisedService& service, std::uint16_t port) = 0;
    // Stops advertising, unless a later publish() has replaced this publication already.
    virtual void withdraw(Ticket ticket) = 0;
};

} // namespace corvane
