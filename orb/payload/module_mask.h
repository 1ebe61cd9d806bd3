#pragma once
// The five mask patterns over the physical module vector. A mask flips bit 0
// of module k when exactly one of k mod a = 0 and k mod b = 0 holds; applying
// it twice restores the modules, so writer and reader share it.
#include <cstdint>
#include <vector>

namespace orb {

inline constexpr int kMaskCount = 5;

struct MaskPattern {
    int a;
    int b;
};

inline constexpr MaskPattern maskPatterns[kMaskCount] = {{2, 3}, {2, 5}, {2, 7}, {3, 5}, {3, 7}};

// Flips the modules selected by mask `maskIndex`, which must be 0..4.
void applyMask(std::vector<std::uint8_t>& modules, int maskIndex);

} // namespace orb
