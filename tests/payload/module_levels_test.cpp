#include <gtest/gtest.h>

#include <random>

#include "orb/payload/module_levels.h"

namespace orb {
namespace {

// Grey module means of `rings` x `perRing` random modules, black 30 and white 220.
struct GreyGrid {
    std::vector<std::uint8_t> truth;
    std::vector<cv::Vec3f> means;

    GreyGrid(int rings, int perRing, unsigned seed)
    {
        std::mt19937 rng(seed);
        for (int i = 0; i < rings * perRing; ++i) {
            truth.push_back(static_cast<std::uint8_t>(rng() % 2));
            means.push_back(cv::Vec3f::all(truth.back() ? 30.0f : 220.0f));
        }
    }
};

TEST(ModuleLevels, AHardShadowReadsAgainstTheLevelsUnderIt)
{
    const int rings = 5, perRing = 40;
    GreyGrid grid(rings, perRing, 4);
    // A fifth of the light left over the second half of every ring:
    // its white falls to 44, below any fixed middle.
    for (int r = 0; r < rings; ++r)
        for (int c = perRing / 2; c < perRing; ++c) grid.means[r * perRing + c] *= 0.2f;
    const LevelReading reading = readByLocalLevels(grid.means, rings, perRing, 1);
    ASSERT_EQ(reading.values.size(), grid.truth.size());
    int wrong = 0;
    for (std::size_t i = 0; i < grid.truth.size(); ++i) wrong += reading.values[i] != grid.truth[i];
    // Only along the shadow's edge can a window mix both lights.
    EXPECT_LE(wrong, 2 * rings * 2);
    for (int r = 0; r < rings; ++r) {
        const int c = 3 * perRing / 4; // deep in the shadow
        EXPECT_EQ(reading.values[r * perRing + c], grid.truth[r * perRing + c]);
        EXPECT_GT(reading.certainty[r * perRing + c], 0.4f);
    }
}

TEST(ModuleLevels, AStainedModuleIsTheLeastSure)
{
    const int rings = 4, perRing = 30;
    GreyGrid grid(rings, perRing, 9);
    // A white module under a dark blot: darker than white, lighter than black.
    const int stained = 2 * perRing + 11;
    grid.truth[stained] = 0;
    grid.means[stained] = cv::Vec3f::all(85.0f);
    const LevelReading reading = readByLocalLevels(grid.means, rings, perRing, 1);
    EXPECT_EQ(reading.values[stained], 1); // read dark, and wrong
    for (std::size_t i = 0; i < grid.means.size(); ++i)
        if (static_cast<int>(i) != stained) {
            EXPECT_LT(reading.certainty[stained], reading.certainty[i]);
            EXPECT_EQ(reading.values[i], grid.truth[i]);
        }
    EXPECT_LT(reading.certainty[stained], 0.3f);
}

TEST(ModuleLevels, ColourModulesAreReadPerChannel)
{
    // Red, cyan, white, black, each under half the light.
    const std::vector<cv::Vec3f> full = {{20, 20, 230}, {230, 230, 20}, {230, 230, 230}, {20, 20, 20}};
    std::vector<cv::Vec3f> means;
    for (int i = 0; i < 3 * 12; ++i) means.push_back(full[i % 4] * 0.5f);
    const LevelReading reading = readByLocalLevels(means, 3, 12, 3);
    const std::uint8_t expected[] = {2, 5, 0, 1};
    for (std::size_t i = 0; i < means.size(); ++i) EXPECT_EQ(reading.values[i], expected[i % 4]) << i;
}

} // namespace
} // namespace orb
