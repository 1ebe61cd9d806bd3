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

// Reader side: removes mask `maskIndex` (0..4) in place, then reorders the
// physical vector (ringCount rows of dataModulesPerRing columns, row 0 the
// outermost ring) into the logical module stream. Returns false when the
// layout cannot cover this grid (the attempt then fails).
bool applyMaskAndLayout(std::vector<std::uint8_t>& modules, int maskIndex, std::int32_t layout,
                        int ringCount, int dataModulesPerRing);

} // namespace orb
