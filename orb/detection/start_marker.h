#pragma once
// Start marker: the radial bar that fixes the angular origin.
#include <vector>

#include <opencv2/core.hpp>

#include "orb/detection/start_marker_types.h"
#include "orb/result_code.h"

namespace orb {

// The start marker candidates worth trying around an inner circle of radius
// R, best first: the best one always, later ones only when they look nearly
// perfect. StartMarkerNotDetected when there is none.
Found<std::vector<StartMarker>> detectStartMarker(const cv::Mat& image, int modulesPerRing, double R);

// Scans rays from radius `r` around the image centre for long black runs and
// rates each local maximum. Candidates need a plausibility of at least 2, or
// 9 when `strict`.
std::vector<StartMarkerCandidate> findStartMarkers(const cv::Mat& image, double r, int modulesPerRing, bool strict);
// StartMarkerNotDetected, MultipleStartMarkers when the best plausibility is
// shared, or Success when one strict candidate stands out.
ResultCode checkSingleStartMarker(const cv::Mat& image, double r, int modulesPerRing);
// Bisects from `startAngle` in the direction of `step` for the angle at which
// rays from radius r stop meeting a black run of about `expectedRun`.
double findBarEdge(double startAngle, double step, const cv::Mat& image, const cv::Point2d& centre, double r,
                   int expectedRun, double fraction);

} // namespace orb
