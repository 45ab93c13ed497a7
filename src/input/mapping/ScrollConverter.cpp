#include "input/mapping/ScrollConverter.h"

#include <algorithm>

namespace corvane {

std::int32_t ScrollConverter::Axis::addUnits(std::int64_t units) {
    if ((units > 0 && remainder < 0) || (units < 0 && remainder > 0)) {
        remainder = 0;
    }
    remainder += units;
    const std::int64_t whole = remainder / hiResPerNotch;
    remainder -= whole * hiResPerNotch;
    return static_cast<std::int32_t>(whole);
}

std::int64_t ScrollConverter::unitsOf(std::int32_t pixels) {
    return std::int64_t{std::clamp(pixels, -maxPixelsPerEvent, maxPixelsPerEvent)} * hiResPerPixel;
}

WheelSteps ScrollConverter::notches(const ScrollWheelEvent& event) {
    return hiRes(event).notches;
}

HiResScroll ScrollConverter::hiRes(const ScrollWheelEvent& event) {
    // The receiver's horizontal wheel is positive to the left; Linux counts to the right.
    const std::int64_t vertical = unitsOf(event.vertical);
    const std::int64_t horizontal = -unitsOf(event.horizontal);
    HiResScroll result;
    result.hiRes = {static_cast<std::int32_t>(vertical), static_cast<std::int32_t>(horizontal)};
    result.notches = {vertical_.addUnits(vertical), horizontal_.addUnits(horizontal)};
    return result;
}

} // namespace corvane
