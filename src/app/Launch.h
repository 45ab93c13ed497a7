#pragma once

#include "app/CommandLine.h"
#include "app/WindowModule.h"
#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "receiver/TouchReceiver.h"

#include <expected>
#include <functional>
#include <memory>

namespace corvane {

// The receiver over the chosen backends, and the trust check the window's "Request
// Accessibility" button uses.
struct Wiring {
    std::shared_ptr<TouchReceiver> receiver;
    std::shared_ptr<AccessibilityTrust> trust;
};
using WireReceiver = std::function<std::expected<Wiring, Error>()>;

// Runs the event loop of the existing application until the program ends, and returns its exit
// status. Once the session bus has said that no other corvane runs, `wire` builds the receiver
// and the window (from `module`) or the headless runner (without one) takes it; otherwise the
// running corvane is asked to show its window.
int launch(const CommandLine& commandLine, const WindowModule* module, const WireReceiver& wire);

} // namespace corvane
