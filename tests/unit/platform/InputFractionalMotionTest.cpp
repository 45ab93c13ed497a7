#include "inputmap/FractionalMotion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvane {
namespace {

// A pointer that only lands on whole pixels, moved the way the receiver moves it: read the
// location, add the delta, post there.
struct PixelPointer {
    FractionalMotion motion;
    PixelPoint real;

    void moveBy(double dx, double dy) {
        const Point location = motion.location(real);
        real = motion.place({location.x + dx, location.y + dy});
    }
};

TEST(FractionalMotion, ManySubPixelMoves_AddUpToTheirSum) {
    PixelPointer pointer{{}, {100, 100}};
    for (int i = 0; i < 100; ++i) {
        pointer.moveBy(0.3, -0.3);
    }
    EXPECT_EQ(pointer.real, (PixelPoint{130, 70}));
}

TEST(FractionalMotion, BackAndForth_DoesNotDrift) {
    PixelPointer pointer{{}, {500, 500}};
    for (int i = 0; i < 1000; ++i) {
        pointer.moveBy(0.7, 0.45);
        pointer.moveBy(-0.7, -0.45);
    }
    EXPECT_EQ(pointer.real, (PixelPoint{500, 500}));
    const Point location = pointer.motion.location(pointer.real);
    EXPECT_NEAR(location.x, 500.0, 1e-6);
    EXPECT_NEAR(location.y, 500.0, 1e-6);
}

TEST(FractionalMotion, SmallMove_KeepsFractionWhilePointerStays) {
    FractionalMotion motion;
    EXPECT_EQ(motion.place({10.4, 20.3}), (PixelPoint{10, 20}));
    EXPECT_EQ(motion.location({10, 20}), (Point{10.4, 20.3}));
}

TEST(FractionalMotion, PointerMovedElsewhere_RestartsFromRealPosition) {
    FractionalMotion motion;
    motion.place({10.4, 20.3});
    EXPECT_EQ(motion.location({300, 40}), (Point{300, 40}));
    // The old fraction is gone for good, even if the pointer comes back to its pixel.
    EXPECT_EQ(motion.location({10, 20}), (Point{10, 20}));
}

TEST(FractionalMotion, TargetBeyondScreenEdge_ClampedByServer_RestartsFromEdge) {
    PixelPointer pointer{{}, {2, 2}};
    pointer.moveBy(-5.25, 0);
    EXPECT_EQ(pointer.real, (PixelPoint{-3, 2}));
    pointer.real = {0, 2}; // where a server that keeps the pointer on screen leaves it
    pointer.moveBy(1.25, 0);
    EXPECT_EQ(pointer.real, (PixelPoint{1, 2}));
    EXPECT_EQ(pointer.motion.location(pointer.real), (Point{1.25, 2}));
}

TEST(FractionalMotion, NegativeHalves_RoundAwayFromZero) {
    EXPECT_EQ(FractionalMotion::toPixel({-0.5, 0.5}), (PixelPoint{-1, 1}));
    EXPECT_EQ(FractionalMotion::toPixel({-0.49, 0.49}), (PixelPoint{0, 0}));
}

TEST(FractionalMotion, HugeOrInvalidTargets_ClampWithoutOverflow) {
    FractionalMotion motion;
    const double inf = std::numeric_limits<double>::infinity();
    const auto limit = static_cast<std::int64_t>(FractionalMotion::coordinateLimit);
    EXPECT_EQ(motion.place({inf, -1e300}), (PixelPoint{limit, -limit}));
    EXPECT_EQ(motion.place({std::nan(""), 3}), (PixelPoint{0, 3}));
    const Point location = motion.location({0, 3});
    EXPECT_EQ(location, (Point{0, 3}));
}

} // namespace
} // namespace corvane
