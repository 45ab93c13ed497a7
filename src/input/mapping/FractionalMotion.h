#pragma once

#include "input/SyntheticEvent.h"

#include <cstdint>
#include <optional>

namespace corvane {

// A whole-pixel pointer position, as X11 and uinput know it.
struct PixelPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// Carries the fractional part of pointer targets across posts. The receiver moves in doubles but
// backends place the pointer on whole pixels: without this, moves smaller than half a pixel would
// be rounded away every time and the pointer would stick.
class FractionalMotion {
public:
    // Pixels are rounded to the nearest (halves away from zero); coordinates beyond this are
    // clamped so that no conversion overflows.
    static constexpr double coordinateLimit = 1e9;

    // The pointer position in doubles: the last target when the pointer still sits on the pixel
    // we put it on, else the real position, from which the next moves start again.
    Point location(PixelPoint real);
    // Remembers `target` (clamped, NaN taken as 0) and gives the pixel to put the pointer on.
    PixelPoint place(Point target);

    static PixelPoint toPixel(Point point);

private:
    std::optional<Point> target_;
};

} // namespace corvane
