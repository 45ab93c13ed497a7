#pragma once

#include "receiver/ClientActivity.h"

#include <QDBusConnection>
#include <optional>
#include <string>

namespace corvane {

// One desktop notification's texts.
struct NotificationText {
    std::string summary;
    std::string body;
    // Left out of the notification history: news of the moment, not of record.
    bool transient = false;

    bool operator==(const NotificationText&) const = default;
};

// Tells the user through org.freedesktop.Notifications when a phone pairs, when a paired phone
// connects and when it leaves; nothing else. The calls are sent without waiting for an answer:
// without a notification server they simply come to nothing.
class DesktopNotifications final : public ClientActivityLog {
public:
    explicit DesktopNotifications(QDBusConnection bus);

    void record(const ClientActivity& activity) override;

    // What the user is told of `activity`, if anything.
    static std::optional<NotificationText> textFor(const ClientActivity& activity);

private:
    QDBusConnection bus_;
};

} // namespace corvane
