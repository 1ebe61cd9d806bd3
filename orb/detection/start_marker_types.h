#pragma once
#include <cstdint>
#include <opencv2/core/types.hpp>

namespace orb {

// Geometry of one start marker bar.
struct StartMarker {
    double angle = 0;          // radians in [0, 2π), the bar's centre angle
    cv::Point2d rayStart;      // where the measuring ray along the bar starts
    cv::Point2d barEnd;        // estimated outer end of the bar
    cv::Point2d firstRunEnd;   // end of the first black run along the ray
};

struct StartMarkerCandidate {
    std::int32_t plausibility = 0; // 0..11, the number of checks passed
    StartMarker marker;
};

} // namespace orb
