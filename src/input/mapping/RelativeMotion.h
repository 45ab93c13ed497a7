#pragma once

#include "input/SyntheticEvent.h"
#include "input/mapping/FractionalMotion.h"

namespace corvane {

// Whole-pixel steps for relative moves given in doubles. What does not make a whole pixel is
// carried to the next move, so that many small deltas still add up.
class RelativeMotion {
public:
    // The pixels to move by now (halves away from zero); deltas beyond the coordinate limit are
    // clamped and NaN counts as 0.
    PixelPoint step(Point delta);

private:
    Point carried_;
};

} // namespace corvane
