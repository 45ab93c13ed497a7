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

std::string boolean(bool value) {
    return value ? "true" : "false";
}

std::string valueOf(PublishedField field, const PublishedState& state) {
    switch (field) {
    case PublishedField::status:
        return oneLine(state.status);
    case PublishedField::code:
        return state.code;
    case PublishedField::isRunning:
        return boolean(state.isRunning);
    case PublishedField::hasAccessibility:
        return boolean(state.hasAccessibility);
    case PublishedField::bluetoothStatus:
        return oneLine(state.bluetoothStatus);
    case PublishedField::pairingStatus:
        return oneLine(state.pairingStatus);
    case PublishedField::publishingStatus:
        return oneLine(state.publishingStatus);
    case PublishedField::storageStatus:
        return oneLine(state.storageStatus);
    }
    return {};
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
        print(field, receiver_->published());
    }
    observer_ = receiver_->addObserver(
        [this](const PublishedChange& change) { print(change.field, change.state); });
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

void HeadlessRunner::print(PublishedField field, const PublishedState& state) {
    auto line = std::string(labelOf(field)) + ": " + valueOf(field, state);
    auto& last = printed_.at(static_cast<std::size_t>(field));
    if (line == last) {
        return;
    }
    last = line;
    // Flushed at once: whoever reads this is waiting for the line.
    out_ << line << std::endl;
}

} // namespace corvane
