#include "platform/avahi/QtAvahiPoll.h"

#include <sys/time.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <memory>

// Avahi declares these opaque; each poll implementation defines them.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    AvahiWatchEvent happened{};
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    std::unique_ptr<QTimer> timer;
};

namespace corvane {

namespace {

// Avahi may free a watch or timeout from inside its own callback, which Qt is still emitting:
// the Qt object is disabled at once and deleted once the emission is over.
template<typename T>
void retire(std::unique_ptr<T>& object) {
    if (object) {
        object->disconnect();
        object.release()->deleteLater();
    }
}

void dispatch(AvahiWatch* watch, AvahiWatchEvent event) {
    watch->happened = event;
    // The callback may free `watch`: nothing touches it afterwards.
    watch->callback(watch, watch->fd, event, watch->userdata);
}

std::unique_ptr<QSocketNotifier> notifier(AvahiWatch* watch, QSocketNotifier::Type type,
                                          AvahiWatchEvent event) {
    auto made = std::make_unique<QSocketNotifier>(watch->fd, type);
    QObject::connect(made.get(), &QSocketNotifier::activated, made.get(),
                     [watch, event] { dispatch(watch, event); });
    return made;
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) {
    watch->reader->setEnabled((events & (AVAHI_WATCH_IN | AVAHI_WATCH_HUP | AVAHI_WATCH_ERR)) != 0);
    watch->writer->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    auto watch = std::make_unique<AvahiWatch>();
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    watch->reader = notifier(watch.get(), QSocketNotifier::Read, AVAHI_WATCH_IN);
    watch->writer = notifier(watch.get(), QSocketNotifier::Write, AVAHI_WATCH_OUT);
    watchUpdate(watch.get(), events);
    // Avahi owns it from here until watchFree.
    return watch.release();
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch) {
    return watch->happened;
}

void watchFree(AvahiWatch* watch) {
    std::unique_ptr<AvahiWatch> owned(watch);
    retire(owned->reader);
    retire(owned->writer);
}

int millisecondsUntil(const timeval& when) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const long long ms = (static_cast<long long>(when.tv_sec) - now.tv_sec) * 1000 +
                         (static_cast<long long>(when.tv_usec) - now.tv_usec) / 1000;
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

void timeoutUpdate(AvahiTimeout* timeout, const timeval* when) {
    if (when == nullptr) {
        timeout->timer->stop();
        return;
    }
    timeout->timer->start(millisecondsUntil(*when));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const timeval* when, AvahiTimeoutCallback callback,
                         void* userdata) {
    auto timeout = std::make_unique<AvahiTimeout>();
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer = std::make_unique<QTimer>();
    timeout->timer->setSingleShot(true);
    AvahiTimeout* raw = timeout.get();
    QObject::connect(timeout->timer.get(), &QTimer::timeout, timeout->timer.get(),
                     [raw] { raw->callback(raw, raw->userdata); });
    timeoutUpdate(raw, when);
    return timeout.release();
}

void timeoutFree(AvahiTimeout* timeout) {
    std::unique_ptr<AvahiTimeout> owned(timeout);
    owned->timer->stop();
    retire(owned->timer);
}

} // namespace

QtAvahiPoll::QtAvahiPoll() {
    api_.userdata = this;
    api_.watch_new = watchNew;
    api_.watch_update = watchUpdate;
    api_.watch_get_events = watchGetEvents;
    api_.watch_free = watchFree;
    api_.timeout_new = timeoutNew;
    api_.timeout_update = timeoutUpdate;
    api_.timeout_free = timeoutFree;
}

} // namespace corvane
