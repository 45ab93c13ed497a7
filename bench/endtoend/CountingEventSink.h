#pragma once

#include "StampedCounter.h"
#include "input/EventSink.h"

#include <cstdint>

namespace corvane {

// An event sink that only counts what is posted and stamps when, so that another thread can see
// each post the moment it happens.
class CountingEventSink final : public EventSink {
public:
    std::optional<Point> pointerLocation() override { return Point{640, 400}; }
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location, Point delta,
                                                   MouseButton button) override;
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode, bool keyDown) override;
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override;
    void post(const SyntheticEvent& event) override;
    void holdModifiers(EventFlags /*flags*/) override {}

    const StampedCounter& posts() const { return posts_; }

private:
    StampedCounter posts_;
};

} // namespace corvane
