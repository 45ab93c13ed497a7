#include "input/mapping/FractionalMotion.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

double bounded(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return std::clamp(value, -FractionalMotion::coordinateLimit, FractionalMotion::coordinateLimit);
}

std::int64_t toWhole(double value) {
    return static_cast<std::int64_t>(std::round(bounded(value)));
}

} // namespace

Point FractionalMotion::location(PixelPoint real) {
    if (target_ && toPixel(*target_) == real) {
        return *target_;
    }
    target_.reset();
    return Point{static_cast<double>(real.x), static_cast<double>(real.y)};
}

PixelPoint FractionalMotion::place(Point target) {
    target_ = Point{bounded(target.x), bounded(target.y)};
    return toPixel(*target_);
}

PixelPoint FractionalMotion::toPixel(Point point) {
    return PixelPoint{toWhole(point.x), toWhole(point.y)};
}

} // namespace corvane
