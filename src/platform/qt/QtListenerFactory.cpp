#include "platform/qt/QtListenerFactory.h"

#include "platform/qt/QtTcpListener.h"

#include <utility>

namespace corvane {

QtListenerFactory::QtListenerFactory(std::shared_ptr<MainThread> mainThread,
                                     std::shared_ptr<DnsSdPublisher> publisher)
    : mainThread_(std::move(mainThread)), publisher_(std::move(publisher)) {}

std::expected<std::shared_ptr<Listener>, Error>
QtListenerFactory::makeListener(std::uint16_t port) {
    auto listener = QtTcpListener::listen(port, mainThread_, publisher_);
    if (!listener) {
        return std::unexpected(std::move(listener.error()));
    }
    return std::shared_ptr<Listener>(std::move(*listener));
}

} // namespace corvane
