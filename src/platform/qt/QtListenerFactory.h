#pragma once

#include "platform/qt/DnsSdPublisher.h"
#include "receiver/Listener.h"
#include "receiver/MainThread.h"

#include <memory>

namespace corvane {

// Makes QtTcpListeners that share one main thread and one DNS-SD publisher.
class QtListenerFactory final : public ListenerFactory {
public:
    // `publisher` may be null: listeners then accept without advertising.
    QtListenerFactory(std::shared_ptr<MainThread> mainThread,
                      std::shared_ptr<DnsSdPublisher> publisher);

    std::expected<std::shared_ptr<Listener>, Error> makeListener(std::uint16_t port) override;

private:
    std::shared_ptr<MainThread> mainThread_;
    std::shared_ptr<DnsSdPublisher> publisher_;
};

} // namespace corvane
