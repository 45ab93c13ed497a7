#include "app/ActivityFanOut.h"

#include <utility>

namespace corvane {

void ActivityFanOut::add(std::shared_ptr<ClientActivityLog> listener) {
    listeners_.push_back(std::move(listener));
}

void ActivityFanOut::record(const ClientActivity& activity) {
    for (const auto& listener : listeners_) {
        listener->record(activity);
    }
}

} // namespace corvane
