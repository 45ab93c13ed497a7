#include "AnyPortListenerFactory.h"

#include "platform/qt/QtTcpListener.h"

#include <utility>

namespace corvane {

AnyPortListenerFactory::AnyPortListenerFactory(std::shared_ptr<MainThread> mainThread)
    : mainThread_(std::move(mainThread)) {}

std::expected<std::shared_ptr<Listener>, Error>
AnyPortListenerFactory::makeListener(std::uint16_t /*port*/) {
    auto listener = QtTcpListener::listen(0, mainThread_, nullptr);
    if (!listener) {
        return std::unexpected(std::move(listener.error()));
    }
    boundPort_ = (*listener)->port();
    return std::shared_ptr<Listener>(std::move(*listener));
}

} // namespace corvane
