#include "orb/finder/data_rings.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

constexpr int kRays = 96;
// Radii in hub radii (the hub is three ring pitches, its ring half a pitch
// and the inner zebra half a pitch): inside the hub beyond its dot, the
// solid part of the ring, and the middles of data rings 0 and 1.
constexpr std::array<double, 4> kRadii = {0.75, 1.08, 1.5, 1.83};
// Least spread of the data radii's samples, as a share of the hub's
// contrast with its ring. A code's bar alone among otherwise even modules
// leaves a few times more, blurred as far as any read undoes.
constexpr double kLeastDataSpread = 0.06;
// Below this contrast (grey levels) the hub tells nothing.
constexpr double kLeastContrast = 12;

double median(cv::Mat values)
{
    std::vector<float> sorted(values.begin<float>(), values.end<float>());
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    return sorted[sorted.size() / 2];
}

} // namespace

bool showsDataRings(const cv::Mat& grey, const CodeCandidate& candidate)
{
    CV_Assert(grey.type() == CV_8UC1);
    const cv::RotatedRect& hub = candidate.hub;
    const double turn = hub.angle * CV_PI / 180;
    const cv::Point2d along(std::cos(turn), std::sin(turn)), across(-std::sin(turn), std::cos(turn));
    const cv::Point2d centre(hub.center);
    cv::Mat mapX(static_cast<int>(kRadii.size()), kRays, CV_32F), mapY(mapX.size(), CV_32F);
    const cv::Rect2d inside(0, 0, grey.cols - 1, grey.rows - 1);
    for (int k = 0; k < kRays; ++k) {
        const double angle = k * 2 * CV_PI / kRays;
        const cv::Point2d rim = hub.size.width / 2.0 * std::cos(angle) * along + hub.size.height / 2.0 * std::sin(angle) * across;
        for (std::size_t r = 0; r < kRadii.size(); ++r) {
            const cv::Point2d point = centre + kRadii[r] * rim;
            if (!inside.contains(point)) return true;
            mapX.at<float>(static_cast<int>(r), k) = static_cast<float>(point.x);
            mapY.at<float>(static_cast<int>(r), k) = static_cast<float>(point.y);
        }
    }
    cv::Mat samples;
    cv::remap(grey, samples, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    samples.convertTo(samples, CV_32F);
    const double contrast = median(samples.row(0)) - median(samples.row(1));
    if (contrast < kLeastContrast) return true;
    double spread = 0;
    for (int r = 2; r < samples.rows; ++r) {
        cv::Scalar mean, deviation;
        cv::meanStdDev(samples.row(r), mean, deviation);
        spread = std::max(spread, deviation[0]);
    }
    return spread >= kLeastDataSpread * contrast;
}

} // namespace orb
