#pragma once
// Outer angular zebra: the outermost ring of alternating modules.
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/detection/start_marker_types.h"
#include "orb/detection/zebra_result.h"
#include "orb/result_code.h"

namespace orb {

// Where the outer ring may pass along a start marker's bar: its estimated
// end and, when the bar was bridged, the end of its first run; the one
// farther from the image centre first.
std::vector<cv::Point2d> outerZebraTrialPoints(const cv::Mat& image, const StartMarker& marker);
// Where the code's outer edge (outerEdgeRadius from the bar's ray start)
// crosses the bar, for when a finger or a stain over the bar's end cut its
// run short; none when there is no edge or it lies at a point `tried`.
std::optional<cv::Point2d> outerEdgeTrialPoint(const cv::Mat& image, const StartMarker& marker,
                                               const std::vector<cv::Point2d>& tried);

// The first radius out from `from` past which the circle around the image
// centre is almost all white: the outer edge of a code centred there, even
// with part of its outline hidden. 0 when there is none within the image.
double outerEdgeRadius(const cv::Mat& image, double from);

// The outer zebra found through one trial point, and the start marker with
// its bar end moved onto the zebra's ring.
struct OuterZebra {
    ZebraResult zebra;
    StartMarker startMarker;
};
Found<OuterZebra> detectOuterZebra(const cv::Mat& image, int modulesPerRing, const StartMarker& marker,
                                   const cv::Point2d& trialPoint);

// Finds the black modules of the outer ring that passes near `trialPoint`:
// one point per module, the ring radius and modulesPerRing / 2 slots.
Found<ZebraResult> findOuterZebra(const cv::Mat& image, int modulesPerRing, const cv::Point2d& trialPoint);
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
