#pragma once
// Walks along a ray through a binarised image and counts runs of one colour.
// Every structure search of the code reads the image this way.
#include <opencv2/core.hpp>

namespace orb {

// Counts black pixels from `point` in steps of `step`, advancing `point`; on
// return `point` is at the first position after the run. With `skipWhite`
// the walk first passes over white pixels. A single-pixel run may bridge one
// white pixel so that a lone binarisation speck does not cut a long run.
int countBlackRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& image, bool skipWhite);
// The same for white runs (any non-zero pixel is white).
int countWhiteRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& image, bool skipBlack);

// Unit ray direction at `angle`: y grows downward, so angles turn
// counter-clockwise on screen.
inline cv::Point2d rayDirection(double angle) { return {std::cos(angle), -std::sin(angle)}; }

} // namespace orb
