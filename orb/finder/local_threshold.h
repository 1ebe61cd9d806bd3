#pragma once
// Local thresholds for finding dark structures in unevenly lit images.
#include <opencv2/core.hpp>

namespace orb {

// 255 where a pixel of an 8-bit gray image is at least `offset` grey levels
// (rounded down) below the mean of the `block` pixel square around it, else
// 0: the library's inverted adaptive mean threshold, pixel for pixel.
cv::Mat darkerThanSurroundings(const cv::Mat& gray, int block, double offset);

} // namespace orb
