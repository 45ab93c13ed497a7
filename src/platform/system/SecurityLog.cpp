#include "platform/system/SecurityLog.h"

#include <QLoggingCategory>
#include <utility>

Q_LOGGING_CATEGORY(corvaneSecurity, "corvane.security", QtInfoMsg)

namespace corvane {

namespace {

const char* outcomeOf(ClientEvent event) {
    switch (event) {
    case ClientEvent::refused:
        return "refused: another device is connected";
    case ClientEvent::pairedWithCode:
        return "paired with the code";
    case ClientEvent::admittedWithCode:
        return "admitted with the code, not paired";
    case ClientEvent::admittedWithToken:
        return "admitted with its token";
    case ClientEvent::rejected:
        return "rejected: no right code or token";
    case ClientEvent::budgetSpent:
        return "rejected unread: too many wrong codes, pairing by code is paused";
    case ClientEvent::left:
        return "left";
    }
    return "unknown outcome";
}

const char* transportName(Transport transport) {
    return transport == Transport::tcp ? "TCP" : "Bluetooth central";
}

// The address without the port: one guessing host uses a new port for each connection.
std::string hostOf(const ClientActivity& activity) {
    if (activity.transport != Transport::tcp) {
        return activity.peer;
    }
    return activity.peer.substr(0, activity.peer.rfind(':'));
}

bool isWarning(ClientEvent event) {
    return event == ClientEvent::rejected || event == ClientEvent::budgetSpent;
}

} // namespace

SecurityLog::SecurityLog() {
    summaryTimer_.setSingleShot(true);
    QObject::connect(&summaryTimer_, &QTimer::timeout, &summaryTimer_, [this] { summarize(); });
}

SecurityLog::~SecurityLog() {
    summarize();
}

void SecurityLog::record(const ClientActivity& activity) {
    std::string host = hostOf(activity);
    if (run_ && run_->event == activity.event && run_->transport == activity.transport &&
        run_->host == host) {
        ++run_->repeats;
        run_->lastPeer = activity.peer;
        if (!summaryTimer_.isActive()) {
            summaryTimer_.start(summaryInterval);
        }
        return;
    }
    summarize();
    run_ = Run{activity.event, activity.transport, std::move(host), activity.peer};
    const char* transport = transportName(activity.transport);
    if (isWarning(activity.event)) {
        qCWarning(corvaneSecurity, "%s %s %s", transport, activity.peer.c_str(),
                  outcomeOf(activity.event));
    } else {
        qCInfo(corvaneSecurity, "%s %s %s", transport, activity.peer.c_str(),
               outcomeOf(activity.event));
    }
}

void SecurityLog::summarize() {
    summaryTimer_.stop();
    if (!run_ || run_->repeats == 0) {
        return;
    }
    // The run goes on being counted after its summary.
    qCInfo(corvaneSecurity, "%s %s %s: %d more time(s), the last from %s",
           transportName(run_->transport), run_->host.c_str(), outcomeOf(run_->event),
           run_->repeats, run_->lastPeer.c_str());
    run_->repeats = 0;
}

} // namespace corvane
