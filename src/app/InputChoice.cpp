#include "app/InputChoice.h"

#include "app/NoInput.h"

#include <QTimer>
#include <utility>

namespace corvane {

namespace {

InputBackend noInput() {
    auto none = std::make_shared<NoInput>();
    return {"none", none, none, [] { return std::optional<std::string>("no backend is usable"); }};
}

} // namespace

InputChoice::InputChoice(std::vector<InputCandidate> candidates, std::ostream& log)
    : candidates_(std::move(candidates)), log_(log) {
    chooseFrom(0);
}

InputChoice::~InputChoice() = default;

std::expected<std::vector<std::string>, Error> InputChoice::order(std::string_view choice,
                                                                  bool waylandSession) {
    if (choice.empty() || choice == "auto") {
        // XTEST on Wayland reaches only the X11 programs under XWayland.
        if (waylandSession) {
            return std::vector<std::string>{"portal", "uinput"};
        }
        return std::vector<std::string>{"xtest", "uinput"};
    }
    if (choice == "portal" || choice == "xtest" || choice == "uinput") {
        return std::vector<std::string>{std::string(choice)};
    }
    if (choice == "none") {
        return std::vector<std::string>{};
    }
    return std::unexpected(Error("unknown input backend \"" + std::string(choice) +
                                 "\" (auto, portal, xtest, uinput, none)"));
}

bool InputChoice::isWaylandSession(std::string_view waylandDisplay, std::string_view sessionType) {
    return !waylandDisplay.empty() || sessionType == "wayland";
}

bool InputChoice::usable() const {
    return !current_.problem();
}

void InputChoice::chooseFrom(std::size_t first) {
    for (std::size_t index = first; index < candidates_.size(); ++index) {
        const InputCandidate& candidate = candidates_[index];
        auto opened = candidate.open();
        if (!opened) {
            passOver(candidate.name, opened.error().description());
            continue;
        }
        if (const auto problem = opened->problem()) {
            passOver(candidate.name, *problem);
            continue;
        }
        currentIndex_ = index;
        current_ = std::move(*opened);
        // The backend belongs to this object, so its reports cannot outlive it; they are looked
        // at from the event loop, where replacing the backend is safe.
        current_.trust->onTrustChanged(
            [this] { QTimer::singleShot(0, &context_, [this] { backendChanged(); }); });
        log_ << "corvane: input through " << current_.name << std::endl;
        return;
    }
    currentIndex_ = candidates_.size();
    current_ = noInput();
    log_ << "corvane: input through none" << std::endl;
}

void InputChoice::passOver(const std::string& name, const std::string& problem) {
    lastProblem_ = name + ": " + problem;
    log_ << "corvane: input: " << lastProblem_ << std::endl;
}

void InputChoice::backendChanged() {
    if (!usable() && currentIndex_ < candidates_.size()) {
        passOver(current_.name, current_.problem().value_or(""));
        chooseFrom(currentIndex_ + 1);
    }
    if (onTrustChanged_) {
        onTrustChanged_();
    }
}

void InputChoice::reportLater() {
    QTimer::singleShot(0, &context_, [this] {
        if (onTrustChanged_) {
            onTrustChanged_();
        }
    });
}

bool InputChoice::isTrusted() {
    return current_.trust->isTrusted();
}

void InputChoice::requestTrust() {
    const bool trustedBefore = isTrusted();
    if (!usable()) {
        chooseFrom(0);
    }
    current_.trust->requestTrust();
    if (isTrusted() != trustedBefore) {
        reportLater();
    }
}

void InputChoice::onTrustChanged(std::function<void()> handler) {
    onTrustChanged_ = std::move(handler);
}

std::optional<Point> InputChoice::pointerLocation() {
    return current_.events->pointerLocation();
}

std::optional<SyntheticEvent> InputChoice::createMouseEvent(MouseEventType type, Point location,
                                                            Point delta, MouseButton button) {
    return current_.events->createMouseEvent(type, location, delta, button);
}

std::optional<SyntheticEvent> InputChoice::createKeyboardEvent(std::uint16_t keyCode,
                                                               bool keyDown) {
    return current_.events->createKeyboardEvent(keyCode, keyDown);
}

std::optional<SyntheticEvent> InputChoice::createScrollWheelEvent(std::int32_t vertical,
                                                                  std::int32_t horizontal) {
    return current_.events->createScrollWheelEvent(vertical, horizontal);
}

void InputChoice::post(const SyntheticEvent& event) {
    current_.events->post(event);
}

void InputChoice::holdModifiers(EventFlags flags) {
    current_.events->holdModifiers(flags);
}

} // namespace corvane
