#pragma once
// The chain of geometric corrections, each applied lazily: a stage runs on
// the current image and only after it failed is the image corrected and the
// stage tried once more.
#include <opencv2/core.hpp>

#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

ResultCode detectCode(const StageInput& input, const DetectionContext& context, const cv::RotatedRect& circle);
ResultCode correctWithInnerZebra(const StageInput& input, const DetectionContext& context,
                                 const ZebraResult& innerZebra, double R);
ResultCode correctWithOuterZebra(const StageInput& input, const DetectionContext& context);
// Warps the source image by the accumulated homography into the three-channel
// image that grid reading samples.
cv::Mat finalTransform(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker);

} // namespace orb
