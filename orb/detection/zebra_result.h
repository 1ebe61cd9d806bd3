#pragma once
#include <cstdint>
#include <vector>

namespace orb {

// One measured zebra feature and the slot it was assigned to.
struct ZebraPoint {
    float x = 0;
    float y = 0;
    double angle = 0;
    std::int32_t slot = 0;
};

// Markers of the inner zebra or the outer angular zebra.
struct ZebraResult {
    std::vector<ZebraPoint> points;
    double radius = 0;       // mean radius of the measured points, whole number
    std::int32_t count = 0;  // number of equally spaced slots
};

} // namespace orb
