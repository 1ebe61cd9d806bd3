#include "orb/detection/ray_walk.h"

#include <cmath>

namespace orb {

namespace {

// Reads the pixel under `point`; false when the point lies outside the image.
// std::lround rounds half away from zero, as the walks require.
bool pixelAt(const cv::Mat& image, const cv::Point2d& point, bool& white)
{
    const long x = std::lround(point.x);
    const long y = std::lround(point.y);
    if (x < 0 || y < 0 || x >= image.cols || y >= image.rows) return false;
    white = image.at<std::uint8_t>(static_cast<int>(y), static_cast<int>(x)) != 0;
    return true;
}

bool isColor(const cv::Mat& image, const cv::Point2d& point, bool wantWhite)
{
    bool white = false;
    return pixelAt(image, point, white) && white == wantWhite;
}

int countRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& image, bool wantWhite, bool skipOther)
{
    CV_Assert(image.type() == CV_8UC1);
    if (skipOther) {
        while (isColor(image, point, !wantWhite)) point += step;
    }
    int count = 0;
    while (isColor(image, point, wantWhite)) {
        ++count;
        point += step;
    }
    if (count != 1) return count;

    // A one-pixel run may continue past a single pixel of the other colour.
    const cv::Point2d afterRun = point;
    point += step;
    if (!isColor(image, point, wantWhite)) {
        point = afterRun;
        return 1;
    }
    while (isColor(image, point, wantWhite)) {
        ++count;
        point += step;
    }
    return count;
}

} // namespace

int countBlackRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& image, bool skipWhite)
{
    return countRun(point, step, image, false, skipWhite);
}

int countWhiteRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& image, bool skipBlack)
{
    return countRun(point, step, image, true, skipBlack);
}

} // namespace orb
