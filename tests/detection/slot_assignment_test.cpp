#include "orb/detection/slot_assignment.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "orb/detection/inner_zebra.h"
#include "orb/payload/module_geometry.h"

namespace orb {
namespace {

std::vector<double> evenAngles(int n, double offset)
{
    std::vector<double> angles;
    for (int i = 0; i < n; ++i) angles.push_back(offset + i * kTwoPi / n);
    return angles;
}

TEST(ClassifyGap, KnowsTheFourFeatureSpacingsWithinFifteenPercent)
{
    EXPECT_EQ(classifyGap(kTwoPi / 4), 0);
    EXPECT_EQ(classifyGap(kTwoPi / 8), 1);
    EXPECT_EQ(classifyGap(kTwoPi / 12), 2);
    EXPECT_EQ(classifyGap(kTwoPi / 16), 3);
    EXPECT_EQ(classifyGap(kTwoPi / 8 * 1.14), 1);
    EXPECT_EQ(classifyGap(kTwoPi / 4 * 1.3), 4);
    EXPECT_EQ(classifyGap(0.01), 4);
}

TEST(AssignSlots, EvenAnglesFillEverySlotInOrder)
{
    const std::vector<double> angles = evenAngles(8, 0.2);
    const std::vector<SlotEntry> slots = assignSlots(angles, {0, 1, 2, 3, 4, 5, 6, 7}, 8, true);
    ASSERT_EQ(slots.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(slots[i].slot, i);
        EXPECT_DOUBLE_EQ(slots[i].angle, angles[i]);
        EXPECT_FALSE(slots[i].interpolated);
    }
}

TEST(AssignSlots, MissingSlotIsInterpolatedOnlyWhenFilling)
{
    std::vector<double> angles = evenAngles(8, 0.1);
    angles.erase(angles.begin() + 5);
    const std::vector<int> chosen{0, 1, 2, 3, 4, 5, 6};

    const std::vector<SlotEntry> filled = assignSlots(angles, chosen, 8, true);
    ASSERT_EQ(filled.size(), 8u);
    EXPECT_TRUE(filled[5].interpolated);
    EXPECT_NEAR(filled[5].angle, 0.1 + 5 * kTwoPi / 8, 1e-9);
    EXPECT_EQ(filled[6].slot, 6);
    EXPECT_DOUBLE_EQ(filled[6].angle, angles[5]);

    const std::vector<SlotEntry> open = assignSlots(angles, chosen, 8, false);
    ASSERT_EQ(open.size(), 7u);
    EXPECT_EQ(open[5].slot, 6);
}

TEST(AssignSlots, UnchosenAngleAtASlotPositionIsPickedUp)
{
    // Index 2 is not chosen (its neighbour gaps were uneven elsewhere) but
    // lies where slot 2 expects an angle.
    std::vector<double> angles = evenAngles(8, 0.3);
    angles[2] += 0.01;
    const std::vector<SlotEntry> slots = assignSlots(angles, {0, 1, 3, 4, 5, 6, 7}, 8, false);
    ASSERT_EQ(slots.size(), 8u);
    EXPECT_DOUBLE_EQ(slots[2].angle, angles[2]);
    EXPECT_FALSE(slots[2].interpolated);
}

TEST(AssignSlots, TableStartsAtTheSmallestAngle)
{
    // Angles listed from the middle of the circle still number from the smallest.
    std::vector<double> angles = evenAngles(4, 0.05);
    std::rotate(angles.begin(), angles.begin() + 2, angles.end());
    const std::vector<SlotEntry> slots = assignSlots(angles, {0, 1, 2, 3}, 4, true);
    ASSERT_EQ(slots.size(), 4u);
    EXPECT_DOUBLE_EQ(slots[0].angle, 0.05);
    EXPECT_EQ(slots[0].slot, 0);
    EXPECT_LT(slots[2].angle, slots[3].angle);
}

} // namespace
} // namespace orb
