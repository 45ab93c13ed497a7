#include "CountingEventSink.h"

namespace corvane {

std::optional<SyntheticEvent> CountingEventSink::createMouseEvent(MouseEventType type,
                                                                  Point location, Point delta,
                                                                  MouseButton button) {
    return SyntheticEvent{MouseEvent{type, location, button, delta}, 0};
}

std::optional<SyntheticEvent> CountingEventSink::createKeyboardEvent(std::uint16_t keyCode,
                                                                     bool keyDown) {
    return SyntheticEvent{KeyboardEvent{keyCode, keyDown}, 0};
}

std::optional<SyntheticEvent> CountingEventSink::createScrollWheelEvent(std::int32_t vertical,
                                                                        std::int32_t horizontal) {
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}, 0};
}

void CountingEventSink::post(const SyntheticEvent& /*event*/) {
    posts_.mark();
}

} // namespace corvane
