#include "input/mapping/RelativeMotion.h"

#include <cmath>

namespace corvane {

PixelPoint RelativeMotion::step(Point delta) {
    const Point wanted{carried_.x + delta.x, carried_.y + delta.y};
    const PixelPoint whole = FractionalMotion::toPixel(wanted);
    carried_ = {wanted.x - static_cast<double>(whole.x), wanted.y - static_cast<double>(whole.y)};
    // A delta that was clamped or not a number leaves nothing worth carrying.
    if (!(std::abs(carried_.x) <= 0.5 && std::abs(carried_.y) <= 0.5)) {
        carried_ = {};
    }
    return whole;
}

} // namespace corvane
