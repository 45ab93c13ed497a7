#include "platform/dbus/PendingCalls.h"

#include <utility>

namespace corvane {

void PendingCalls::watch(const QDBusPendingCall& call, Completion completion) {
    const std::uint64_t id = next_++;
    auto watcher = std::make_unique<QDBusPendingCallWatcher>(call);
    QDBusPendingCallWatcher* raw = watcher.get();
    watchers_.emplace(id, std::move(watcher));
    QObject::connect(raw, &QDBusPendingCallWatcher::finished, raw,
                     [this, id, completion = std::move(completion)](QDBusPendingCallWatcher* w) {
                         auto node = watchers_.extract(id);
                         const QDBusMessage reply = w->reply();
                         // Deleting the sender inside its own signal is not safe.
                         if (!node.empty()) {
                             node.mapped().release()->deleteLater();
                         }
                         completion(reply);
                     });
}

} // namespace corvane
