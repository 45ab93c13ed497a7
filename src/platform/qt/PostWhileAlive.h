#pragma once

#include "receiver/MainThread.h"

#include <memory>
#include <utility>

namespace corvane {

// Calls `handler(arguments...)` later on the main thread, unless `owner` has gone by then: a
// connection or listener that was let go of must not speak afterwards. The owner stays alive
// for the length of the call.
template<typename Owner, typename Handler, typename... Arguments>
void postWhileAlive(MainThread& mainThread, std::weak_ptr<Owner> owner, Handler handler,
                    Arguments... arguments) {
    mainThread.post([owner = std::move(owner), handler = std::move(handler),
                     ... arguments = std::move(arguments)]() mutable {
        if (const auto alive = owner.lock()) {
            handler(std::move(arguments)...);
        }
    });
}

} // namespace corvane
