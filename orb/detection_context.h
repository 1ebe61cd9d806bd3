#pragma once
// What the detection stages hand to one another.
#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/detection/start_marker_types.h"
#include "orb/detection/zebra_result.h"

namespace orb {

// Small record copied by value at every stage that changes a member; the
// pointed-to objects are owned by the stage that created them.
struct DetectionContext {
    std::string* payload = nullptr;
    std::uint8_t* dataType = nullptr;
    std::uint8_t* eccType = nullptr;
    const cv::Mat* sourceImage = nullptr;
    StartMarker* startMarker = nullptr;
    ZebraResult* zebra = nullptr;
    cv::Matx33d homography = cv::Matx33d::eye(); // source image -> current working image
    std::int32_t modulesPerRing = 0;
    std::int32_t innerZebraRadius = 0;
};

// The pair every detection stage receives: configuration and the binarised
// working image (one channel, 0 black, 255 white).
struct StageInput {
    const DecoderConfiguration& config;
    cv::Mat image;
};

} // namespace orb
