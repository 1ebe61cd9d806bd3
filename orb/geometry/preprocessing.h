#pragma once
// Image preparation for the reader, the finder and the pipeline: the grey
// image, optional enhancement, then binarisation into 0/255.
#include <array>

#include <opencv2/core.hpp>

namespace orb {

// `image` resized by `scale` < 1 with area averaging, at least a pixel each way.
cv::Mat shrunkBy(const cv::Mat& image, double scale);

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
// A grey image with the paper's light made even: divided by the paper's
// brightness, so that paper reads about 235 in light and in shadow alike.
// The brightness is a closing over `reach` pixels (a long side of
// `longSide`, the image reduced to it first when larger): a closing
// follows a shadow's edge where it falls, while a local mean or maximum
// spreads it into a dark band along the edge that cuts through whatever
// it crosses. Ink narrower than the reach keeps its darkness.
cv::Mat evenPaperLight(const cv::Mat& grey, int longSide = 1280, int reach = 41);
cv::Mat contrastAdjustment(const cv::Mat& image, float fraction);

} // namespace orb
