#include "platform/portal/PortalInput.h"

#include "input/mapping/MouseEventMeaning.h"
#include "input/mapping/PostWithModifiers.h"

#include <linux/input-event-codes.h>

#include <cstdlib>
#include <utility>

namespace corvane {

namespace {

// NotifyPointerAxisDiscrete axes; positive steps scroll down and right, as libinput counts.
constexpr std::uint32_t verticalAxis = 0;
constexpr std::uint32_t horizontalAxis = 1;
constexpr std::uint32_t released = 0;
constexpr std::uint32_t pressed = 1;

std::int32_t buttonCode(MouseButton button) {
    switch (button) {
    case MouseButton::right:
        return BTN_RIGHT;
    case MouseButton::center:
        return BTN_MIDDLE;
    case MouseButton::left:
        break;
    }
    return BTN_LEFT;
}

} // namespace

PortalInput::PortalInput(QDBusConnection bus, RestoreTokenStore tokens, WorkspaceKeys workspaceKeys)
    : session_(std::make_unique<RemoteDesktopSession>(std::move(bus), std::move(tokens))),
      workspaceKeys_(workspaceKeys) {
    session_->onStateChanged([this] { sessionChanged(); });
    session_->probe();
}

PortalInput::~PortalInput() {
    holdModifiers(0);
}

bool PortalInput::isTrusted() {
    return session_->state() == RemoteDesktopSession::State::started;
}

void PortalInput::requestTrust() {
    session_->request();
}

void PortalInput::onTrustChanged(std::function<void()> handler) {
    onTrustChanged_ = std::move(handler);
}

std::optional<std::string> PortalInput::problem() const {
    if (session_->state() != RemoteDesktopSession::State::unavailable) {
        return std::nullopt;
    }
    return session_->problem().toStdString();
}

void PortalInput::sessionChanged() {
    const bool trusted = isTrusted();
    if (!trusted) {
        // The desktop lets go of a closed session's keys itself.
        modifiers_ = ModifierState();
    }
    const bool unavailable = session_->state() == RemoteDesktopSession::State::unavailable;
    if ((trusted != std::exchange(wasTrusted_, trusted) || unavailable) && onTrustChanged_) {
        onTrustChanged_();
    }
}

std::optional<Point> PortalInput::pointerLocation() {
    return std::nullopt;
}

std::optional<SyntheticEvent> PortalInput::createMouseEvent(MouseEventType type, Point location,
                                                            Point delta, MouseButton button) {
    if (!isTrusted()) {
        return std::nullopt;
    }
    return SyntheticEvent{MouseEvent{type, location, button, delta}};
}

std::optional<SyntheticEvent> PortalInput::createKeyboardEvent(std::uint16_t keyCode,
                                                               bool keyDown) {
    if (!isTrusted() || !KeyTable::chord(keyCode, 0, workspaceKeys_)) {
        return std::nullopt;
    }
    return SyntheticEvent{KeyboardEvent{keyCode, keyDown}};
}

std::optional<SyntheticEvent> PortalInput::createScrollWheelEvent(std::int32_t vertical,
                                                                  std::int32_t horizontal) {
    if (!isTrusted()) {
        return std::nullopt;
    }
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}};
}

void PortalInput::post(const SyntheticEvent& event) {
    if (!isTrusted()) {
        return;
    }
    postWithModifiers(
        modifiers_, workspaceKeys_, event, [this](const auto& changes) { apply(changes); },
        [this](const KeyboardEvent& key, const KeyChord& chord) {
            keysym(chord.keysyms[0], key.keyDown);
        },
        [this](const auto& body) { postBody(body); });
}

void PortalInput::holdModifiers(EventFlags flags) {
    // Without a session nothing is pressed, so nothing is sent.
    apply(modifiers_.hold(flags));
}

void PortalInput::postBody(const MouseEvent& event) {
    if (event.delta.x != 0 || event.delta.y != 0) {
        session_->notify("NotifyPointerMotion", {event.delta.x, event.delta.y});
    }
    const ButtonTransition transition = MouseEventMeaning::transition(event.type);
    if (transition != ButtonTransition::none) {
        session_->notify(
            "NotifyPointerButton",
            {buttonCode(event.button), transition == ButtonTransition::press ? pressed : released});
    }
}

void PortalInput::postBody(const ScrollWheelEvent& event) {
    // Whole notches, as a wheel sends them; the phone's up is the portal's negative.
    const WheelSteps notches = scroll_.notches(event);
    scrollSteps(verticalAxis, -notches.vertical);
    scrollSteps(horizontalAxis, notches.horizontal);
}

void PortalInput::scrollSteps(std::uint32_t axis, std::int32_t steps) {
    // One call a notch: some desktops take a single step from each call, whatever its count.
    const std::int32_t step = steps < 0 ? -1 : 1;
    for (std::int32_t i = 0; i < std::abs(steps); ++i) {
        session_->notify("NotifyPointerAxisDiscrete", {axis, step});
    }
}

void PortalInput::apply(const ModifierState::Changes& changes) {
    for (const auto& change : changes) {
        keysym(change.modifier.keysym, change.press);
    }
}

void PortalInput::keysym(Keysym keysym, bool down) {
    session_->notify("NotifyKeyboardKeysym",
                     {static_cast<std::int32_t>(keysym), down ? pressed : released});
}

} // namespace corvane
