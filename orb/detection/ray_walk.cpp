#include "orb/detection/ray_walk.h"

#include <cmath>

namespace orb {

namespace {

// Rounds half away from zero, as std::lround does, without its library
// call: the walks read millions of pixels. The fraction v - trunc(v) is
// exact in doubles. Only for |v| < 2^31; larger values (and NaN) lie
// outside any image anyway.
long roundHalfAway(double v)
{
    const long whole = static_cast<long>(v);
    const double fraction = v - static_cast<double>(whole);
    return whole + (fraction >= 0.5 ? 1 : fraction <= -0.5 ? -1 : 0);
}

// Reads the pixel under `point`; false when the point lies outside the image.
bool pixelAt(const cv::Mat& image, const cv::Point2d& point, bool& white)
{
    constexpr double kReach = 2147483647.0;
    if (!(std::abs(point.x) < kReach && std::abs(point.y) < kReach)) return false;
    const long x = roundHalfAway(point.x);
    const long y = roundHalfAway(point.y);
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
