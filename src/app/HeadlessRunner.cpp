#include "app/HeadlessRunner.h"

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

constexpr std::array allFields{PublishedField::status,           PublishedField::code,
                               PublishedField::isRunning,        PublishedField::hasAccessibility,
                               PublishedField::bluetoothStatus,  PublishedField::pairingStatus,
                               PublishedField::publishingStatus, PublishedField::storageStatus};

std::string_view labelOf(PublishedField field) {
    switch (field) {
    case PublishedField::status:
        return "status";
    case PublishedField::code:
        return "code";
    case PublishedField::isRunning:
        return "running";
    case PublishedField::hasAccessibility:
        return "accessibility";
    case PublishedField::bluetoothStatus:
        return "bluetooth";
    case PublishedField::pairingStatus:
        return "pairing";
    case PublishedField::publishingStatus:
        return "publishing";
    case PublishedField::storageStatus:
        return "storage";
    }
    return "unknown";
}

// Error descriptions come from other libraries and may span lines; each value stays on one.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

HeadlessRunner::HeadlessRunner(std::shared_ptr<TouchReceiver> receiver, std::ostream& out,
                               std::function<void(int)> exit)
    : receiver_(std::move(receiver)), out_(out), exit_(std::move(exit)) {}

HeadlessRunner::~HeadlessRunner() {
    if (observer_ != 0) {
        receiver_->removeObserver(observer_);
    }
}

void HeadlessRunner::begin() {
    for (const auto field : allFields) {
        print(field);
    }
    observer_ = receiver_->addObserver([this](PublishedField field) { print(field); });
    receiver_->start();
}

void HeadlessRunner::handleCommand(std::string_view line, std::ostream& errors) {
    const auto command = trimmed(line);
    if (command.empty()) {
        return;
    }
    if (command == "start") {
        receiver_->start();
    } else if (command == "stop") {
        receiver_->stop();
    } else if (command == "forget") {
        receiver_->forgetPairedDevices();
    } else if (command == "quit") {
        quit();
    } else {
        errors << "unknown command \"" << command << "\" (start, stop, forget, quit)" << std::endl;
    }
}

void HeadlessRunner::handleTermination() {
    quit();
}

void HeadlessRunner::quit() {
    if (exiting_) {
        return;
    }
    exiting_ = true;
    receiver_->stop();
    exit_(0);
}

void HeadlessRunner::print(PublishedField field) {
    auto line = std::string(labelOf(field)) + ": " + valueOf(field);
    auto& last = printed_.at(static_cast<std::size_t>(field));
    if (line == last) {
        return;
    }
    last = line;
    // Flushed at once: whoever reads this is waiting for the line.
    out_ << line << std::endl;
}

std::string HeadlessRunner::valueOf(PublishedField field) const {
    switch (field) {
    case PublishedField::status:
        return oneLine(receiver_->status());
    case PublishedField::code:
        return receiver_->code();
    case PublishedField::isRunning:
        return receiver_->isRunning() ? "true" : "false";
    case PublishedField::hasAccessibility:
        return receiver_->hasAccessibility() ? "true" : "false";
    case PublishedField::bluetoothStatus:
        return oneLine(receiver_->bluetoothStatus());
    case PublishedField::pairingStatus:
        return oneLine(receiver_->pairingStatus());
    case PublishedField::publishingStatus:
        return oneLine(receiver_->publishingStatus());
    case PublishedField::storageStatus:
        return oneLine(receiver_->storageStatus());
    }
    return {};
}

} // namespace corvane
