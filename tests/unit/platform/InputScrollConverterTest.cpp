#include "inputmap/ScrollConverter.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvane {
namespace {

constexpr std::int32_t notch = ScrollConverter::pixelsPerNotch;

TEST(ScrollConverter, WholeNotches_FollowTheWheelDirections) {
    ScrollConverter converter;
    // Vertical positive scrolls up, as Linux counts; horizontal positive scrolls left, Linux
    // negative.
    EXPECT_EQ(converter.notches({2 * notch, 3 * notch}), (WheelSteps{2, -3}));
    EXPECT_EQ(converter.notches({-notch, -notch}), (WheelSteps{-1, 1}));
}

TEST(ScrollConverter, SmallScrolls_KeepRemainderUntilANotchIsFull) {
    ScrollConverter converter;
    const std::int32_t quarter = notch / 4;
    EXPECT_EQ(converter.notches({quarter, 0}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({quarter, 0}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({quarter, 0}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({quarter, 0}), (WheelSteps{1, 0}));
    EXPECT_EQ(converter.notches({quarter, 0}), (WheelSteps{0, 0}));
}

TEST(ScrollConverter, Remainders_AreKeptPerAxis) {
    ScrollConverter converter;
    EXPECT_EQ(converter.notches({notch / 2, notch / 2}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({0, notch / 2}), (WheelSteps{0, -1}));
    EXPECT_EQ(converter.notches({notch / 2, 0}), (WheelSteps{1, 0}));
}

TEST(ScrollConverter, Reversing_DropsTheLeftoverOfTheOtherDirection) {
    ScrollConverter converter;
    EXPECT_EQ(converter.notches({notch * 3 / 4, 0}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({-notch * 3 / 4, 0}), (WheelSteps{0, 0}));
    EXPECT_EQ(converter.notches({-notch / 4, 0}), (WheelSteps{-1, 0}));
}

TEST(ScrollConverter, ExtremeValues_AreClampedInsteadOfOverflowing) {
    ScrollConverter converter;
    const auto max = std::numeric_limits<std::int32_t>::max();
    const auto min = std::numeric_limits<std::int32_t>::min();
    const std::int32_t cap = ScrollConverter::maxPixelsPerEvent / notch;
    EXPECT_EQ(converter.notches({max, min}), (WheelSteps{cap, cap}));
}

TEST(ScrollConverter, HiRes_Sends120UnitsANotchAndTheNotchesCrossed) {
    ScrollConverter converter;
    const HiResScroll first = converter.hiRes({notch / 2, -notch / 2});
    EXPECT_EQ(first.hiRes, (WheelSteps{60, 60}));
    EXPECT_EQ(first.notches, (WheelSteps{0, 0}));
    const HiResScroll second = converter.hiRes({notch * 3 / 4, -notch * 3 / 4});
    EXPECT_EQ(second.hiRes, (WheelSteps{90, 90}));
    EXPECT_EQ(second.notches, (WheelSteps{1, 1}));
    const HiResScroll third = converter.hiRes({1, 0});
    EXPECT_EQ(third.hiRes, (WheelSteps{ScrollConverter::hiResPerPixel, 0}));
    EXPECT_EQ(third.notches, (WheelSteps{0, 0}));
}

} // namespace
} // namespace corvane
