#pragma once

#include <avahi-common/watch.h>

namespace corvane {

// Runs Avahi's client library on the Qt event loop: watches become QSocketNotifiers and timeouts
// become single-shot QTimers, so Avahi needs no thread of its own. Must outlive every client made
// with it.
class QtAvahiPoll {
public:
    QtAvahiPoll();

    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    const AvahiPoll* api() const { return &api_; }

private:
    AvahiPoll api_{};
};

} // namespace corvane
