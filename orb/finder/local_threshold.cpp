#include "orb/finder/local_threshold.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

// 255 where `above` exceeds `below` by at least `levels`: a saturated
// difference is 0 wherever it would be negative.
cv::Mat exceeds(const cv::Mat& above, const cv::Mat& below, int levels)
{
    cv::Mat difference, mask;
    cv::subtract(above, below, difference);
    cv::threshold(difference, mask, levels - 1, 255, cv::THRESH_BINARY);
    return mask;
}

} // namespace

cv::Mat darkerThanSurroundings(const cv::Mat& gray, int block, double offset)
{
    const int levels = static_cast<int>(std::floor(offset)); // as the library rounds it
    if (levels <= 0) { // a saturated difference cannot tell these apart
        cv::Mat dark;
        cv::adaptiveThreshold(gray, dark, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, block, offset);
        return dark;
    }
    // The library compares pixel by pixel through a lookup table, which
    // costs more than its box filter; whole-image operations vectorise.
    return darkerThanMean(gray, localMean(gray, block), levels);
}

cv::Mat localMean(const cv::Mat& gray, int block)
{
    cv::Mat mean;
    cv::boxFilter(gray, mean, gray.type(), cv::Size(block, block), cv::Point(-1, -1), true,
                  cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
    return mean;
}

cv::Mat darkerThanMean(const cv::Mat& gray, const cv::Mat& mean, int levels) { return exceeds(mean, gray, levels); }

cv::Mat lighterThanMean(const cv::Mat& gray, const cv::Mat& mean, int levels) { return exceeds(gray, mean, levels); }

} // namespace orb
