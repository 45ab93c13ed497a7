#pragma once

#include "input/SyntheticEvent.h"

#include <cstdint>
#include <optional>

namespace corvane {

// Where synthetic input enters the desktop's input stream.
class EventSink {
public:
    virtual ~EventSink() = default;

    // The current pointer position, or nothing when it cannot be read (a backend that only moves
    // the pointer relatively has no position to tell).
    virtual std::optional<Point> pointerLocation() = 0;
    // A mouse event of this type and button with no flags, or nothing. It puts the pointer at
    // `location`, which is `delta` away from where it was: backends that place the pointer use
    // the location, backends that move it relatively use the delta.
    virtual std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location,
                                                           Point delta, MouseButton button) = 0;
    // A key-down or key-up event for a virtual key code with no flags, or nothing.
    virtual std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode,
                                                              bool keyDown) = 0;
    // A pixel-unit scroll event with two wheels and no flags, or nothing.
    virtual std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                                 std::int32_t horizontal) = 0;
    // Posts the event at once, carrying exactly its own flags.
    virtual void post(const SyntheticEvent& event) = 0;
    // The phone's modifier flags are now these (0: none). Modifier keys that a backend holds down
    // for them and that are no longer among them are released at once; the keys of later events
    // still follow each event's own flags.
    virtual void holdModifiers(EventFlags flags) = 0;
};

} // namespace corvane
