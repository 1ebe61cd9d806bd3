#include "orb/detection/ray_walk.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

// The binarised image as the walks read it: one byte per pixel, taken
// apart once per run instead of at every step.
struct RayImage {
    explicit RayImage(const cv::Mat& image)
        : data(image.data), step(image.step[0]), cols(image.cols), rows(image.rows)
    {
        CV_Assert(image.type() == CV_8UC1);
    }

    // Whether the pixel under `point` is of the wanted colour; never for a
    // point outside the image.
    bool isColor(const cv::Point2d& point, bool wantWhite) const
    {
        constexpr double kReach = 2147483647.0;
        if (!(std::abs(point.x) < kReach && std::abs(point.y) < kReach)) return false;
        const long x = roundHalfAway(point.x);
        const long y = roundHalfAway(point.y);
        if (x < 0 || y < 0 || x >= cols || y >= rows) return false;
        return (data[static_cast<std::size_t>(y) * step + static_cast<std::size_t>(x)] != 0) == wantWhite;
    }

    const std::uint8_t* data;
    std::size_t step;
    long cols;
    long rows;
};

int countRun(cv::Point2d& point, const cv::Point2d& step, const cv::Mat& binary, bool wantWhite, bool skipOther)
{
    const RayImage image(binary);
    if (skipOther) {
        while (image.isColor(point, !wantWhite)) point += step;
    }
    int count = 0;
    while (image.isColor(point, wantWhite)) {
        ++count;
        point += step;
    }
    if (count != 1) return count;

    // A one-pixel run may continue past a single pixel of the other colour.
    const cv::Point2d afterRun = point;
    point += step;
    if (!image.isColor(point, wantWhite)) {
        point = afterRun;
        return 1;
    }
    while (image.isColor(point, wantWhite)) {
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
