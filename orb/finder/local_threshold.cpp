#include "orb/finder/local_threshold.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

cv::Mat darkerThanSurroundings(const cv::Mat& gray, int block, double offset)
{
    cv::Mat dark;
    const int levels = static_cast<int>(std::floor(offset)); // as the library rounds it
    if (levels <= 0) { // a saturated difference cannot tell these apart
        cv::adaptiveThreshold(gray, dark, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, block, offset);
        return dark;
    }
    // The library compares pixel by pixel through a lookup table, which
    // costs more than its box filter; whole-image operations vectorise.
    cv::Mat mean;
    cv::boxFilter(gray, mean, gray.type(), cv::Size(block, block), cv::Point(-1, -1), true,
                  cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
    cv::subtract(mean, gray, mean); // 0 where the pixel is the brighter
    cv::threshold(mean, dark, levels - 1, 255, cv::THRESH_BINARY);
    return dark;
}

} // namespace orb
