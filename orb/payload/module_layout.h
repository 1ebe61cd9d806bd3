#pragma once
// Module layouts and masks: the order in which the physical module grid
// carries the logical module stream.
#include <cstdint>
#include <vector>

namespace orb {

enum ModuleLayout : std::int32_t {
    Horizontal = 0,
    Vertical = 1,
    VerticalSnake = 2,
    HorizontalSnakeLarge = 3,
    HorizontalSnakeSmall = 4,
    Scrambled = 5,
};

// Name as written to the log; "" for values outside 0..5.
const char* layoutName(std::int32_t layout);

// What the layout step logs after "dec: " or "enc: ", e.g. "apply vertical
// layout". Values outside 0..5 are Horizontal.
const char* layoutStepText(std::int32_t layout);

// The physical index of every logical module: logical module p sits at
// physical index positions[p] of a grid of ringCount rows by
// dataModulesPerRing columns. Values outside 0..5 are Horizontal. Returns
// false, leaving `positions` empty, when the layout does not visit every
// grid cell exactly once (Scrambled with one ring, or three or more rings and
// three or fewer columns) or the sizes are negative.
bool layoutPositions(std::int32_t layout, int ringCount, int dataModulesPerRing, std::vector<int>& positions);

// Reader side: removes mask `maskIndex` (0..4) in place, then reorders the
// physical vector (ringCount rows of dataModulesPerRing columns, row 0 the
// outermost ring) into the logical module stream. Returns false when the
// layout cannot cover this grid, the mask index is unknown or the vector
// does not hold ringCount * dataModulesPerRing modules (the attempt then
// fails).
bool applyMaskAndLayout(std::vector<std::uint8_t>& modules, int maskIndex, std::int32_t layout,
                        int ringCount, int dataModulesPerRing);

} // namespace orb
