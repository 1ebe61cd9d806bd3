#pragma once
// Outer angular zebra: the outermost ring of alternating modules.
#include <vector>

#include <opencv2/core.hpp>

#include "orb/detection/zebra_result.h"
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

ResultCode detectOuterZebra(const StageInput& input, const DetectionContext& context,
                            const StartMarkerCandidate& candidate);

// Finds the black modules of the outer ring that passes near `trialPoint`
// and fills `result` with one point per module, the ring radius and
// modulesPerRing / 2 slots.
ResultCode findOuterZebra(const cv::Mat& image, int modulesPerRing, const cv::Point2d& trialPoint,
                          ZebraResult& result);
// Fits an ellipse to the code's outline within reach of `trialPoint`;
// `centre` comes in as the image centre and leaves as the ellipse's centre.
cv::RotatedRect fitOuterEllipse(const cv::Mat& image, cv::Point2d& centre, const cv::Point2d& trialPoint);

// Angles (radians, counter-clockwise) at which the colour changes along a
// one-pixel ellipse outline, and the colour of the first pixel.
struct ColorChanges {
    std::vector<double> angles;
    int startColor = 0;
};
ColorChanges sampleEllipse(const cv::Mat& image, const cv::Point& centre, const cv::Size& axes, double angle,
                           int arcStart, int arcEnd);

} // namespace orb
