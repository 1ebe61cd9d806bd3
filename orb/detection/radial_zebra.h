#pragma once
// Radial zebra: the radial line of alternating modules beside the start
// marker, which gives the ring count and the ring radii.
#include <cstdint>

#include <opencv2/core.hpp>

#include "orb/detection_context.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

struct RadialZebraSearch {
    cv::Mat image;                    // binarised working image
    const StartMarker* startMarker = nullptr;
    std::int32_t minRadius = 0;
    std::int32_t maxRadius = 0;
    double step = 0;                  // two module angles
};

RadialZebraSearch makeRadialZebraSearch(const cv::Mat& image, const StartMarker& startMarker, int modulesPerRing);
ResultCode detectRadialZebra(const DecoderConfiguration& config, const RadialZebraSearch& search,
                             const DetectionContext& context);

} // namespace orb
