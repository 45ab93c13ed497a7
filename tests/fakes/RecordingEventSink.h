#pragma once

#include "input/EventSink.h"

#include <functional>
#include <optional>
#include <vector>

namespace corvane::test {

// Logs every create, post and holdModifiers call in order, and fails creation where the test
// asks it to.
class RecordingEventSink : public EventSink {
public:
    // `hold` entries carry the held flags on an empty event.
    enum class Call { create, post, hold };

    struct Entry {
        Call call;
        SyntheticEvent event;
        // For creations: whether an event was handed out.
        bool created = true;
        bool operator==(const Entry&) const = default;
    };

    // The position pointerLocation() reports; nothing when it cannot be read.
    std::optional<Point> location = Point{100, 100};
    // Whether the creation of this event (with no flags yet) fails.
    std::function<bool(const SyntheticEvent&)> fails = [](const SyntheticEvent&) { return false; };
    // Every call, in order.
    std::vector<Entry> entries;

    std::optional<Point> pointerLocation() override { return location; }
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point at, Point delta,
                                                   MouseButton button) override {
        return create({MouseEvent{type, at, button, delta}});
    }
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode,
                                                      bool keyDown) override {
        return create({KeyboardEvent{keyCode, keyDown}});
    }
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override {
        return create({ScrollWheelEvent{vertical, horizontal}});
    }
    void post(const SyntheticEvent& event) override { entries.push_back({Call::post, event}); }
    void holdModifiers(EventFlags flags) override {
        entries.push_back({Call::hold, SyntheticEvent{{}, flags}});
    }

    // Only the posted events, with their flags, in order.
    std::vector<SyntheticEvent> posted() const {
        std::vector<SyntheticEvent> result;
        for (const Entry& entry : entries) {
            if (entry.call == Call::post) {
                result.push_back(entry.event);
            }
        }
        return result;
    }

    void clear() { entries.clear(); }

private:
    std::optional<SyntheticEvent> create(const SyntheticEvent& event) {
        const bool created = !fails(event);
        entries.push_back({Call::create, event, created});
        return created ? std::optional(event) : std::nullopt;
    }
};

} // namespace corvane::test
