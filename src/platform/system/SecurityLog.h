#pragma once

#include "receiver/ClientActivity.h"

#include <QTimer>
#include <chrono>
#include <optional>
#include <string>

namespace corvane {

// Who tried to get in and how it ended, in the logging category "corvane.security" (the journal,
// or standard error): each admission decision and departure with the peer's address or the
// central's identifier, never a token or a code. A run of the same outcome from the same host is
// logged once and then counted, with the count logged when the run ends or every summaryInterval,
// so a guessing client or a storm of refused connections cannot flood the journal.
class SecurityLog final : public ClientActivityLog {
public:
    static constexpr std::chrono::seconds summaryInterval{10};

    SecurityLog();
    ~SecurityLog() override;

    SecurityLog(const SecurityLog&) = delete;
    SecurityLog& operator=(const SecurityLog&) = delete;

    void record(const ClientActivity& activity) override;

private:
    struct Run {
        ClientEvent event;
        Transport transport;
        std::string host;
        std::string lastPeer;
        int repeats = 0;
    };

    void summarize();

    std::optional<Run> run_;
    QTimer summaryTimer_;
};

} // namespace corvane
