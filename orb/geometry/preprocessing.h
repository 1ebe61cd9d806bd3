#pragma once
// Image preprocessing: optional enhancement, then binarisation into 0/255.
#include <opencv2/core.hpp>

namespace orb {

cv::Mat enhanceImage(const cv::Mat& image, int codeType);
cv::Mat binarizeImage(const cv::Mat& image, int codeType);
// threshold -1 selects Otsu's method.
cv::Mat otsuBinarize(const cv::Mat& image, double threshold);
cv::Mat binarizeColorMode(const cv::Mat& image);
cv::Mat contrastAdjustment(const cv::Mat& image, float fraction);

} // namespace orb
