#include "orb/detection/angle_gaps.h"

#include <gtest/gtest.h>

#include "orb/payload/module_geometry.h"

namespace {

using namespace orb;

TEST(AngleGaps, WrapPastAFullTurnAndCloseTheCircle)
{
    EXPECT_NEAR(angleGap(kTwoPi - 0.1, 0.2), 0.3, 1e-12);
    // A step back wraps; the closing gap makes the gaps one whole turn.
    const std::vector<double> wrapped = circleGaps({1.0, 4.0, 0.5});
    ASSERT_EQ(wrapped.size(), 3u);
    EXPECT_NEAR(wrapped[1], kTwoPi - 3.5, 1e-12);
    EXPECT_NEAR(wrapped[2], 0.5, 1e-12);
    // Sorted: the gap from the last back to the first closes the circle.
    const std::vector<double> closed = circleGaps({0.0, kTwoPi / 4, kTwoPi / 2});
    ASSERT_EQ(closed.size(), 3u);
    EXPECT_NEAR(closed[2], kTwoPi / 2, 1e-12);
}

TEST(AngleGaps, EvenMarksHaveNoSpread)
{
    const std::vector<double> even = circleGaps({0.0, kTwoPi / 4, kTwoPi / 2, 3 * kTwoPi / 4});
    EXPECT_NEAR(gapVarCoeff(even, kTwoPi / 4), 0.0, 1e-12);
    // Against a step of half the spacing every gap is one step off.
    EXPECT_NEAR(gapVarCoeff(even, kTwoPi / 8), 1.0, 1e-12);
}

} // namespace
