#pragma once
// Image preparation for the reader, the finder and the pipeline: the grey
// image, optional enhancement, then binarisation into 0/255.
#include <array>

#include <opencv2/core.hpp>

namespace orb {

// `image` in grey: a one-channel image as it is (shared, not copied), a
// BGR or BGRA one converted.
cv::Mat greyImage(const cv::Mat& image);
cv::Mat enhanceImage(const cv::Mat& image, int codeType);
cv::Mat binarizeImage(const cv::Mat& image, int codeType);
// threshold -1 selects Otsu's method.
cv::Mat otsuBinarize(const cv::Mat& image, double threshold);
// Pixels per grey level of an 8-bit one-channel image.
using GreyHistogram = std::array<int, 256>;
GreyHistogram greyHistogram(const cv::Mat& grey);
// The grey level Otsu's method splits a histogram at, as cv::threshold's.
int otsuThreshold(const GreyHistogram& histogram);
cv::Mat binarizeColorMode(const cv::Mat& image);
cv::Mat contrastAdjustment(const cv::Mat& image, float fraction);

} // namespace orb
