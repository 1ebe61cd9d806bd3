#pragma once
// Grid reading: samples the data modules of the warped code image and hands
// them, under each mask, to the payload decoder.
#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/detection_context.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

// `warped.image` is the three-channel image from finalTransform, code centred.
// A grid that reaches outside the image yields WrongGrid, as does a single
// ring, whose pitch is unknown.
ResultCode readGridData(const StageInput& warped, const DetectionContext& context, const RingGrid& grid);

// Samples the modules of one warped code image.
struct GridReader {
    GridReader(const DecoderConfiguration& config, const cv::Mat& warpedImage, int modulesPerRing, int ringCount);

    // The data modules in physical order, outermost ring first, each ring
    // clockwise from the first data position; nothing when a sample falls
    // outside the image or the grid has fewer than two rings.
    std::optional<std::vector<std::uint8_t>> readModules(cv::Point2d centre, double startAngle,
                                                         const RingGrid& grid) const;

    // One module around `point`: its five-pixel cross plus `samples` random
    // pixels within half the tangential and radial extents. Black-and-white
    // modules read 1 for dark; colour modules 0 (white) to 7. Nothing when a
    // pixel falls outside the image.
    std::optional<std::uint8_t> sampleModule(cv::Point point, double theta, int tangentialExtent,
                                             int radialExtent, int samples) const;

    std::int32_t codeType;
    std::int32_t modulesPerRing;
    std::int32_t ringCount;
    std::int32_t bitsPerModule;
    cv::Mat image;
};

} // namespace orb
