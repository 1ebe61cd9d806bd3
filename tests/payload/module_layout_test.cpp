#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "orb/payload/module_layout.h"
#include "orb/payload/module_mask.h"

using namespace orb;

namespace {

std::vector<int> positionsOf(std::int32_t layout, int rows, int columns)
{
    std::vector<int> positions;
    EXPECT_TRUE(layoutPositions(layout, rows, columns, positions));
    return positions;
}

bool isPermutation(std::vector<int> positions, int total)
{
    std::sort(positions.begin(), positions.end());
    std::vector<int> expected(total);
    std::iota(expected.begin(), expected.end(), 0);
    return positions == expected;
}

} // namespace

TEST(ModuleLayout, SnakeAndScrambledOrdersOfKnownGrids)
{
    const std::vector<int> snake{0,  1,  2,  3,  13, 12, 11, 10, 20, 21, 22, 23, 33, 32, 31, 30, 34, 35, 36, 37,
                                 27, 26, 25, 24, 14, 15, 16, 17, 7,  6,  5,  4,  8,  9,  19, 18, 28, 29, 39, 38};
    EXPECT_EQ(positionsOf(HorizontalSnakeLarge, 4, 10), snake);

    const std::vector<int> scrambled{0, 5, 18, 23, 8, 13, 1, 6, 19, 9, 14, 2, 7, 20, 10, 15, 3, 16, 21, 11, 4, 17, 22, 12};
    EXPECT_EQ(positionsOf(Scrambled, 3, 8), scrambled);

    // A last band of one column is walked straight up or down.
    const auto nine = positionsOf(HorizontalSnakeLarge, 3, 9);
    EXPECT_EQ(std::vector<int>(nine.end() - 3, nine.end()), (std::vector<int>{8, 17, 26}));

    EXPECT_EQ(positionsOf(Vertical, 2, 3), (std::vector<int>{0, 3, 1, 4, 2, 5}));
    EXPECT_EQ(positionsOf(VerticalSnake, 2, 3), (std::vector<int>{0, 3, 4, 1, 2, 5}));
    EXPECT_EQ(positionsOf(HorizontalSnakeSmall, 2, 3), (std::vector<int>{0, 1, 4, 3, 5, 2}));
}

TEST(ModuleLayout, SingleRingAndUnknownLayoutsAreHorizontal)
{
    const auto identity = positionsOf(Horizontal, 1, 11);
    EXPECT_EQ(positionsOf(Vertical, 1, 11), identity);
    EXPECT_EQ(positionsOf(VerticalSnake, 1, 11), identity);
    EXPECT_EQ(positionsOf(42, 3, 7), positionsOf(Horizontal, 3, 7));
    EXPECT_STREQ(layoutName(42), "");
    EXPECT_STREQ(layoutName(Scrambled), "Scrambled");
}

TEST(ModuleLayout, EveryLayoutIsAPermutationWhereItCoversTheGrid)
{
    for (std::int32_t layout = Horizontal; layout <= Scrambled; ++layout)
        for (int rows = 1; rows <= 12; ++rows)
            for (int columns = 1; columns <= 59; ++columns) {
                std::vector<int> positions;
                const bool covers = layoutPositions(layout, rows, columns, positions);
                const bool scrambledGap = layout == Scrambled && (rows == 1 || (rows >= 3 && columns <= 3));
                if (scrambledGap && rows * columns > 1) {
                    EXPECT_FALSE(covers) << rows << "x" << columns;
                    continue;
                }
                ASSERT_TRUE(covers) << layout << " " << rows << "x" << columns;
                EXPECT_TRUE(isPermutation(positions, rows * columns)) << layout << " " << rows << "x" << columns;
            }
}

TEST(ModuleMask, FlipsExactlyWhereOneDivisorHolds)
{
    std::vector<std::uint8_t> modules(7, 0);
    applyMask(modules, 0);
    EXPECT_EQ(modules, (std::vector<std::uint8_t>{0, 0, 1, 1, 1, 0, 0}));

    std::vector<std::uint8_t> colour{7, 6, 5, 4, 3, 2, 1};
    applyMask(colour, 0);
    EXPECT_EQ(colour, (std::vector<std::uint8_t>{7, 6, 4, 5, 2, 2, 1})); // only bit 0 changes
    for (int mask = 0; mask < kMaskCount; ++mask) {
        auto twice = colour;
        applyMask(twice, mask);
        applyMask(twice, mask);
        EXPECT_EQ(twice, colour);
    }
}

TEST(ModuleLayout, ReaderUndoesMaskThenLayout)
{
    // Physical grid of 3 x 8 holding, at each layout position, its logical index.
    const int rows = 3, columns = 8;
    for (std::int32_t layout = Horizontal; layout <= Scrambled; ++layout) {
        const auto positions = positionsOf(layout, rows, columns);
        std::vector<std::uint8_t> physical(rows * columns);
        for (int p = 0; p < rows * columns; ++p) physical[positions[p]] = static_cast<std::uint8_t>(2 * p);
        applyMask(physical, 3);
        ASSERT_TRUE(applyMaskAndLayout(physical, 3, layout, rows, columns));
        for (int p = 0; p < rows * columns; ++p) EXPECT_EQ(physical[p], 2 * p) << layout;
    }
}

TEST(ModuleLayout, ReaderRefusesWhatItCannotCover)
{
    std::vector<std::uint8_t> modules(10, 0);
    EXPECT_FALSE(applyMaskAndLayout(modules, 0, Scrambled, 1, 10));
    std::vector<std::uint8_t> small(9, 0);
    EXPECT_FALSE(applyMaskAndLayout(small, 0, Scrambled, 3, 3));
    std::vector<std::uint8_t> wrongSize(11, 0);
    EXPECT_FALSE(applyMaskAndLayout(wrongSize, 0, Horizontal, 1, 10));
    EXPECT_FALSE(applyMaskAndLayout(modules, 5, Horizontal, 1, 10));
    EXPECT_FALSE(applyMaskAndLayout(modules, -1, Horizontal, 1, 10));
    std::vector<std::uint8_t> empty;
    EXPECT_TRUE(applyMaskAndLayout(empty, 0, Vertical, 4, 0));
}
