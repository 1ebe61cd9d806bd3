#include "orb/geometry/preprocessing.h"

#include <opencv2/imgproc.hpp>

namespace orb {

// Placeholders until preprocessing lands; otsuBinarize is usable already.
cv::Mat enhanceImage(const cv::Mat& image, int) { return image.clone(); }
cv::Mat binarizeImage(const cv::Mat& image, int) { return otsuBinarize(image, -1); }
cv::Mat otsuBinarize(const cv::Mat& image, double threshold)
{
    cv::Mat gray;
    if (image.channels() > 1) cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    else gray = image;
    cv::Mat result;
    if (threshold == -1) cv::threshold(gray, result, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    else cv::threshold(gray, result, threshold, 255, cv::THRESH_BINARY);
    return result;
}
cv::Mat binarizeColorMode(const cv::Mat& image) { return otsuBinarize(image, -1); }
cv::Mat contrastAdjustment(const cv::Mat& image, float) { return image.clone(); }

} // namespace orb
