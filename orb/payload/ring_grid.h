#pragma once
#include <cstdint>

namespace orb {

// Ring layout found by the radial zebra, read by grid reading.
struct RingGrid {
    std::int32_t ringCount = 0; // number of data rings; <= 0: none found
    double firstRadius = 0;     // centre to the middle of the innermost data ring
    double lastRadius = 0;      // centre to the middle of the outermost data ring
};

} // namespace orb
