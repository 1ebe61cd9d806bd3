#pragma once
// Local thresholds for finding dark structures in unevenly lit images.
#include <opencv2/core.hpp>

namespace orb {

// 255 where a pixel of an 8-bit gray image is at least `offset` grey levels
// (rounded down) below the mean of the `block` pixel square around it, else
// 0: the library's inverted adaptive mean threshold, pixel for pixel.
cv::Mat darkerThanSurroundings(const cv::Mat& gray, int block, double offset);

// The mean of the `block` pixel square around each pixel, rounded as the
// library's adaptive threshold rounds it: what both thresholds below compare with.
cv::Mat localMean(const cv::Mat& gray, int block);

// 255 where `gray` is at least `levels` grey levels below (`darkerThanMean`)
// or above (`lighterThanMean`) its `mean`, else 0. The second is the first
// on the image with dark and light swapped, up to the rounding of the mean.
cv::Mat darkerThanMean(const cv::Mat& gray, const cv::Mat& mean, int levels);
cv::Mat lighterThanMean(const cv::Mat& gray, const cv::Mat& mean, int levels);

} // namespace orb
