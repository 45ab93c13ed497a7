#include "inputmap/FractionalMotion.h"
#include "inputmap/ScrollConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace corvane {
namespace {

// Moved the way the XTest backend moves the pointer: from where it is, onto whole pixels.
TEST(FractionalMotion, SubPixelMovesAddUpWithoutDrift_AndRestartFromWhereThePointerIs) {
    FractionalMotion motion;
    PixelPoint real{100, 100};
    const auto moveBy = [&](double dx, double dy) {
        const Point location = motion.location(real);
        real = motion.place({location.x + dx, location.y + dy});
    };
    for (int i = 0; i < 100; ++i) {
        moveBy(0.3, -0.3);
    }
    EXPECT_EQ(real, (PixelPoint{130, 70}));
    for (int i = 0; i < 1000; ++i) {
        moveBy(0.7, 0.45);
        moveBy(-0.7, -0.45);
    }
    EXPECT_EQ(real, (PixelPoint{130, 70}));
    EXPECT_EQ(motion.place({10.4, 20.3}), (PixelPoint{10, 20}));
    EXPECT_EQ(motion.location({10, 20}), (Point{10.4, 20.3}));
    EXPECT_EQ(motion.location({300, 40}), (Point{300, 40})) << "moved by someone else";
    EXPECT_EQ(motion.location({10, 20}), (Point{10, 20})) << "the old fraction is gone for good";
    EXPECT_EQ(motion.place({-0.5, 0.5}), (PixelPoint{-1, 1}));
    EXPECT_EQ(motion.place({-0.49, 0.49}), (PixelPoint{0, 0}));
    EXPECT_EQ(motion.place({std::numeric_limits<double>::infinity(), -1e300}),
              (PixelPoint{1'000'000'000, -1'000'000'000}));
    EXPECT_EQ(motion.place({std::nan(""), 3}), (PixelPoint{0, 3}));
}

TEST(ScrollConverter, HugeWheelValues_AreClampedInsteadOfOverflowing) {
    ScrollConverter converter;
    const auto max = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(converter.notches({max, -max - 1}), (WheelSteps{100, 100}));
}

} // namespace
} // namespace corvane
