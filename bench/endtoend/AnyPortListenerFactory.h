#pragma once

#include "receiver/Listener.h"
#include "receiver/MainThread.h"

#include <cstdint>
#include <memory>

namespace corvane {

// Makes real Qt TCP listeners on a port the kernel picks, whatever port the receiver asks for,
// so that the benchmark runs beside a receiver that holds the fixed one. Nothing is advertised.
class AnyPortListenerFactory final : public ListenerFactory {
public:
    explicit AnyPortListenerFactory(std::shared_ptr<MainThread> mainThread);

    std::expected<std::shared_ptr<Listener>, Error> makeListener(std::uint16_t port) override;

    // The port of the listener made last; 0 before the first.
    std::uint16_t boundPort() const { return boundPort_; }

private:
    std::shared_ptr<MainThread> mainThread_;
    std::uint16_t boundPort_ = 0;
};

} // namespace corvane
