#pragma once

#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"

namespace corvane {

// The input backend of a machine where no other one works: it never posts anything and never
// claims trust, so the receiver refuses to start and shows how to grant access.
class NoInput final : public EventSink, public AccessibilityTrust {
public:
    bool isTrusted() override { return false; }
    void requestTrust() override {}

    std::optional<Point> pointerLocation() override { return std::nullopt; }
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType, Point, Point,
                                                   MouseButton) override {
        return std::nullopt;
    }
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t, bool) override {
        return std::nullopt;
    }
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t, std::int32_t) override {
        return std::nullopt;
    }
    void post(const SyntheticEvent&) override {}
    void holdModifiers(EventFlags) override {}
};

} // namespace corvane
