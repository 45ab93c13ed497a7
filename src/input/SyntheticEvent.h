#pragma once

#include <cstdint>
#include <variant>

namespace corvane {

// Modifier flags carried by an event, with the desktop-neutral values the phone's protocol uses.
using EventFlags = std::uint64_t;

namespace EventFlag {
inline constexpr EventFlags shift = 0x20000;
inline constexpr EventFlags control = 0x40000;
inline constexpr EventFlags option = 0x80000;
inline constexpr EventFlags command = 0x100000;
} // namespace EventFlag

enum class MouseEventType : std::uint32_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    otherMouseDown = 25,
    otherMouseUp = 26,
};

enum class MouseButton : std::uint32_t {
    left = 0,
    right = 1,
    center = 2,
};

// Virtual key codes of the shortcut keys (positions on a US layout).
namespace VirtualKey {
inline constexpr std::uint16_t z = 6;
inline constexpr std::uint16_t equal = 24;
inline constexpr std::uint16_t minus = 27;
inline constexpr std::uint16_t space = 49;
inline constexpr std::uint16_t escape = 53;
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
} // namespace VirtualKey

// Global display coordinates: origin at the top left of the main display, y grows downward.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// A mouse event puts the pointer at `location`, `delta` away from where it was (zero for clicks).
struct MouseEvent {
    MouseEventType type{};
    Point location;
    MouseButton button{};
    Point delta;
    bool operator==(const MouseEvent&) const = default;
};

struct KeyboardEvent {
    std::uint16_t keyCode = 0;
    bool keyDown = false;
    bool operator==(const KeyboardEvent&) const = default;
};

// Two wheels in pixel units: vertical positive scrolls up, horizontal positive scrolls left.
struct ScrollWheelEvent {
    std::int32_t vertical = 0;
    std::int32_t horizontal = 0;
    bool operator==(const ScrollWheelEvent&) const = default;
};

// One created event, ready to have its flags set and to be posted.
struct SyntheticEvent {
    std::variant<MouseEvent, KeyboardEvent, ScrollWheelEvent> body;
    EventFlags flags = 0;
    bool operator==(const SyntheticEvent&) const = default;
};

} // namespace corvane
