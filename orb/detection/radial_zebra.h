#pragma once
// Radial zebra: the radial line of alternating modules beside the start
// marker, which gives the ring count and the ring radii.
#include <cstdint>

#include <opencv2/core.hpp>

#include "orb/detection/start_marker_types.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

struct RadialZebraSearch {
    cv::Mat image;                    // binarised working image
    StartMarker startMarker;
    std::int32_t minRadius = 0;
    std::int32_t maxRadius = 0;
    double step = 0;                  // two module angles
};

RadialZebraSearch makeRadialZebraSearch(const cv::Mat& image, const StartMarker& startMarker, int modulesPerRing);
// The ring grid from the radial zebra on the right of the start marker;
// RadialZebraNotDetected when there is none.
Found<RingGrid> detectRadialZebra(const RadialZebraSearch& search);

// Ring grid from the radial line at `angle`; ringCount <= 0 when none found.
RingGrid findRadialZebra(const RadialZebraSearch& search, double angle);
// Where the black runs that start at `startRadius` end, beside the start
// marker at `offset` from its angle (median of three rays, rounded up).
int probeInnerEdge(const RadialZebraSearch& search, double offset, int startRadius);
// True when the radial lines two module angles to either side of the start
// marker both show a grid with the same ring count.
bool radialZebraOnBothSides(const RadialZebraSearch& search);

} // namespace orb
