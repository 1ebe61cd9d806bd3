#pragma once
// Inner zebra: the features around the inner circle, which fix the module
// count per ring and serve as the first perspective markers.
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/detection/zebra_result.h"
#include "orb/result_code.h"

namespace orb {

// Finds the features at the rim of the inner circle of radius R around the
// image centre: the markers, their mean radius and their count (4, 8, 12 or
// 16), which fixes the modules per ring at four times the count.
Found<ZebraResult> findInnerZebra(const cv::Mat& image, double R);
// Assigns the cleaned feature angles (ascending) to slots and measures them.
Found<ZebraResult> validateInnerZebra(const cv::Mat& image, const std::vector<double>& angles,
                                      const cv::Point2d& centre, double R);
// Bisects for the angle at which rays from radius R stop ending early, that
// is leave the feature whose run is `expectedRun`.
double findFeatureEdge(double startAngle, double step, const cv::Mat& image, const cv::Point2d& centre, double R,
                       int expectedRun, double fraction);
// Angle of one module from the median feature width (units of 0.0001 rad);
// none when the width is too large to give a module size.
std::optional<double> moduleAngleFromFeatureWidth(int medianWidth);
// Class of an angular gap: 0 a quarter turn, 1 an eighth, 2 a twelfth, 3 a
// sixteenth, 4 none of these.
int classifyGap(double gap);

} // namespace orb
