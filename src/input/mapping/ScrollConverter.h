#pragma once

#include "input/SyntheticEvent.h"

#include <cstdint>

namespace corvane {

// Wheel amounts in the Linux sense: vertical positive scrolls up (X button 4, REL_WHEEL
// positive), horizontal positive scrolls right (X button 7, REL_HWHEEL positive).
struct WheelSteps {
    std::int32_t vertical = 0;
    std::int32_t horizontal = 0;
    bool operator==(const WheelSteps&) const = default;
};

// What a uinput device sends for one scroll: high-resolution units, and the whole notches that
// the running sum of those units crossed, for clients that only read REL_WHEEL/REL_HWHEEL.
struct HiResScroll {
    WheelSteps hiRes;
    WheelSteps notches;
    bool operator==(const HiResScroll&) const = default;
};

// Turns the receiver's pixel wheels into wheel notches. One notch is `pixelsPerNotch` pixels,
// about three text lines in common Linux toolkits. Whatever does not make a whole notch is kept per
// axis and added to the next scroll of the same direction; reversing drops it, so the first notch
// the other way is not swallowed by leftovers.
class ScrollConverter {
public:
    static constexpr std::int32_t pixelsPerNotch = 40;
    static constexpr std::int32_t hiResPerNotch = 120;
    static constexpr std::int32_t hiResPerPixel = hiResPerNotch / pixelsPerNotch;
    static_assert(hiResPerPixel * pixelsPerNotch == hiResPerNotch);
    // Larger wheel values are clamped: the receiver sends at most 400, and an unbounded value
    // would turn into millions of button clicks.
    static constexpr std::int32_t maxPixelsPerEvent = 4000;

    // For backends that click wheel buttons: whole notches only.
    WheelSteps notches(const ScrollWheelEvent& event);
    // For backends with high-resolution wheels: 120 units a notch, plus the notches crossed.
    HiResScroll hiRes(const ScrollWheelEvent& event);

private:
    struct Axis {
        std::int64_t remainder = 0;
        std::int32_t addUnits(std::int64_t units);
    };

    static std::int64_t unitsOf(std::int32_t pixels);

    Axis vertical_;
    Axis horizontal_;
};

} // namespace corvane
