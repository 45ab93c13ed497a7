#include "input/InputInjector.h"

#include <array>
#include <cmath>
#include <string_view>
#include <utility>

namespace corvane {

namespace {

using Kind = TouchMessage::Kind;

constexpr double motionLimit = 200.0;
constexpr double zoomLimit = 2.0;
constexpr double scrollFactor = -2.0;
constexpr std::uint64_t highestModifierMask = 15;

// Mask bits in the phone's order: Shift, Option, Command, Control.
constexpr std::array<EventFlags, 4> modifierFlags = {
    EventFlag::shift,
    EventFlag::option,
    EventFlag::command,
    EventFlag::control,
};

struct Shortcut {
    std::string_view name;
    std::uint16_t keyCode;
    EventFlags flags;
};

constexpr std::array<Shortcut, 6> shortcuts = {{
    {"playPause", VirtualKey::space, 0},
    {"stepBack", VirtualKey::leftArrow, 0},
    {"stepForward", VirtualKey::rightArrow, 0},
    {"undo", VirtualKey::z, EventFlag::command},
    {"redo", VirtualKey::z, EventFlag::shift | EventFlag::command},
    {"escape", VirtualKey::escape, 0},
}};

bool withinMotionLimit(const std::optional<double>& delta) {
    return delta && std::isfinite(*delta) && std::fabs(*delta) <= motionLimit;
}

// Halves round away from zero; the motion limit keeps the result far inside 32 bits.
std::int32_t wheelValue(double delta) {
    return static_cast<std::int32_t>(std::round(delta * scrollFactor));
}

} // namespace

InputInjector::InputInjector(std::shared_ptr<EventSink> sink) : sink_(std::move(sink)) {}

void InputInjector::applyInput(const TouchMessage& message) {
    switch (message.kind) {
    case Kind::hello:
    case Kind::accepted:
    case Kind::rejected:
        return;
    case Kind::move:
    case Kind::scroll:
        return applyMotion(message);
    case Kind::click:
        return click(MouseEventType::leftMouseDown, MouseEventType::leftMouseUp, MouseButton::left);
    case Kind::rightClick:
        return click(MouseEventType::rightMouseDown, MouseEventType::rightMouseUp,
                     MouseButton::right);
    case Kind::middleClick:
        return click(MouseEventType::otherMouseDown, MouseEventType::otherMouseUp,
                     MouseButton::center);
    case Kind::buttonDown:
        return pressButton();
    case Kind::buttonUp:
        return releaseHeldButton();
    case Kind::zoom:
        return applyZoom(message);
    case Kind::navigate:
        return applyNavigate(message);
    case Kind::key:
        return applyKey(message);
    case Kind::modifiers:
        return applyModifiers(message);
    }
}

void InputInjector::movePointer(double dx, double dy) {
    const Point location = currentLocation();
    const auto type = buttonHeld_ ? MouseEventType::leftMouseDragged : MouseEventType::mouseMoved;
    postMouseEvent(type, Point{location.x + dx, location.y + dy}, MouseButton::left, Point{dx, dy});
}

void InputInjector::scroll(double dx, double dy) {
    // Scrolls deliberately carry no modifier flags.
    if (auto event = sink_->createScrollWheelEvent(wheelValue(dy), wheelValue(dx))) {
        sink_->post(*event);
    }
}

void InputInjector::releaseHeldButton() {
    if (!buttonHeld_) {
        return;
    }
    buttonHeld_ = false;
    postMouseEvent(MouseEventType::leftMouseUp, currentLocation(), MouseButton::left);
}

void InputInjector::clearModifiers() {
    activeModifiers_ = 0;
    sink_->holdModifiers(0);
}

Point InputInjector::currentLocation() {
    return sink_->pointerLocation().value_or(Point{});
}

void InputInjector::postMouseEvent(MouseEventType type, Point location, MouseButton button,
                                   Point delta) {
    if (auto event = sink_->createMouseEvent(type, location, delta, button)) {
        event->flags = activeModifiers_;
        sink_->post(*event);
    }
}

void InputInjector::click(MouseEventType down, MouseEventType up, MouseButton button) {
    if (buttonHeld_) {
        return;
    }
    const Point location = currentLocation();
    postMouseEvent(down, location, button);
    postMouseEvent(up, location, button);
}

void InputInjector::pressButton() {
    if (buttonHeld_) {
        return;
    }
    buttonHeld_ = true;
    postMouseEvent(MouseEventType::leftMouseDown, currentLocation(), MouseButton::left);
}

void InputInjector::pressKey(std::uint16_t keyCode, EventFlags flags) {
    postKeyEvent(keyCode, true, flags);
    postKeyEvent(keyCode, false, flags);
}

void InputInjector::postKeyEvent(std::uint16_t keyCode, bool keyDown, EventFlags flags) {
    if (auto event = sink_->createKeyboardEvent(keyCode, keyDown)) {
        event->flags = flags;
        sink_->post(*event);
    }
}

void InputInjector::applyMotion(const TouchMessage& message) {
    if (!withinMotionLimit(message.dx) || !withinMotionLimit(message.dy)) {
        return;
    }
    if (message.kind == Kind::move) {
        movePointer(*message.dx, *message.dy);
    } else {
        scroll(*message.dx, *message.dy);
    }
}

void InputInjector::applyZoom(const TouchMessage& message) {
    const auto& value = message.value;
    if (!value || !std::isfinite(*value) || std::fabs(*value) > zoomLimit) {
        return;
    }
    pressKey(*value < 0 ? VirtualKey::minus : VirtualKey::equal, EventFlag::command);
}

void InputInjector::applyNavigate(const TouchMessage& message) {
    if (message.value == -1.0) {
        pressKey(VirtualKey::leftArrow, EventFlag::control);
    } else if (message.value == 1.0) {
        pressKey(VirtualKey::rightArrow, EventFlag::control);
    }
}

void InputInjector::applyKey(const TouchMessage& message) {
    if (!message.key) {
        return;
    }
    for (const Shortcut& shortcut : shortcuts) {
        if (shortcut.name == *message.key) {
            return pressKey(shortcut.keyCode, shortcut.flags);
        }
    }
}

void InputInjector::applyModifiers(const TouchMessage& message) {
    if (!message.modifiers) {
        return;
    }
    // Read as unsigned so that a negative mask counts as too large.
    const auto mask = static_cast<std::uint64_t>(*message.modifiers);
    if (mask > highestModifierMask) {
        return;
    }
    EventFlags flags = 0;
    for (std::size_t bit = 0; bit < modifierFlags.size(); ++bit) {
        if (mask & (std::uint64_t{1} << bit)) {
            flags |= modifierFlags[bit];
        }
    }
    activeModifiers_ = flags;
    sink_->holdModifiers(flags);
}

} // namespace corvane
