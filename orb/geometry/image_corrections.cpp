#include "orb/geometry/image_corrections.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

// A homography needs four point pairs; fewer can reach here when the zebra
// stages drop slots whose angles do not increase.
constexpr std::size_t kFitPoints = 4;

// Ideal position of zebra slot `slot` of `count` on a circle of radius r.
cv::Point2f slotTarget(cv::Point2d centre, int slot, int count, double r)
{
    const double theta = 2 * std::numbers::pi * slot / count;
    const float cosine = static_cast<float>(std::cos(theta));
    const float sine = static_cast<float>(std::sin(theta));
    const float dx = static_cast<float>(cosine * r);
    const float dy = static_cast<float>(sine * r);
    return {static_cast<float>(centre.x) + dx, static_cast<float>(centre.y) - dy};
}

// Plain least-squares homography from the zebra points to their slots; an
// empty matrix when the points admit no fit.
cv::Mat fitZebra(const ZebraResult& zebra, cv::Point2d centre, double r)
{
    if (zebra.points.size() < kFitPoints || zebra.count <= 0) return {};
    std::vector<cv::Point2f> source;
    std::vector<cv::Point2f> target;
    for (const ZebraPoint& p : zebra.points) {
        source.emplace_back(p.x, p.y);
        target.push_back(slotTarget(centre, p.slot, zebra.count, r));
    }
    return cv::findHomography(source, target, 0, 3.0, cv::noArray(), 2000, 0.995);
}

} // namespace

CorrectedImage affineTransform(const StageInput& input, const cv::RotatedRect& circle, double R)
{
    const cv::Point2d C = imageCentre(input.image);
    cv::Point2f source[4];
    circle.points(source); // bottom-left, top-left, top-right, bottom-right
    const cv::Point2f target[4] = {
        cv::Point2f(static_cast<float>(C.x - R), static_cast<float>(C.y + R)),
        cv::Point2f(static_cast<float>(C.x - R), static_cast<float>(C.y - R)),
        cv::Point2f(static_cast<float>(C.x + R), static_cast<float>(C.y - R)),
        cv::Point2f(static_cast<float>(C.x + R), static_cast<float>(C.y + R)),
    };
    const cv::Mat A = cv::getAffineTransform(source, target);

    cv::Mat warped;
    cv::warpAffine(input.image, warped, A, input.image.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT,
                   cv::Scalar(255));
    CorrectedImage result;
    result.image = otsuBinarize(warped, -1);
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 3; ++col) result.transform(row, col) = A.at<double>(row, col);
    logger().line(LogLevel::Debug, " affineTransform");
    return result;
}

CorrectedImage perspectiveTransform1(const StageInput& input, const ZebraResult& innerZebra)
{
    CorrectedImage result;
    const cv::Mat T = fitZebra(innerZebra, imageCentre(input.image), innerZebra.radius);
    if (T.empty()) return result;

    cv::Mat warped;
    cv::warpPerspective(input.image, warped, T, input.image.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT,
                        cv::Scalar(255));
    result.image = otsuBinarize(warped, -1);
    result.transform = cv::Matx33d(T);
    logger().line(LogLevel::Debug, "   perspectiveTransform1");
    return result;
}

CorrectedImage perspectiveTransform2(const StageInput& input, StartMarker& startMarker, const ZebraResult& outerZebra)
{
    CorrectedImage result;
    const cv::Point2d C = imageCentre(input.image);
    const cv::Mat T = fitZebra(outerZebra, C, std::min(C.x, C.y) - 10);
    if (T.empty()) return result;

    std::vector<cv::Point2f> marker = {cv::Point2f(startMarker.rayStart), cv::Point2f(startMarker.barEnd)};
    cv::perspectiveTransform(marker, marker, T);
    startMarker.rayStart = marker[0];
    startMarker.barEnd = marker[1];
    startMarker.angle = std::atan2(C.y - startMarker.barEnd.y, startMarker.barEnd.x - C.x);
    if (startMarker.angle < 0) startMarker.angle += 2 * std::numbers::pi;

    cv::Mat warped;
    cv::warpPerspective(input.image, warped, T, input.image.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    result.image = otsuBinarize(warped, -1);
    result.transform = cv::Matx33d(T);
    logger().line(LogLevel::Debug, "      perspectiveTransform2");
    return result;
}

cv::Mat finalTransform(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker)
{
    // Only the ring between the inner circle and the bar's outer end is
    // kept; everything else is white so stray marks cannot be sampled. So
    // only the ring's bounding box is warped, not the whole frame.
    const cv::Point2d C = imageCentre(input.image);
    const cv::Point Ci(cvRound(C.x), cvRound(C.y));
    const int outer = static_cast<int>(cv::norm(C - startMarker.barEnd)) + 2;
    const int inner = static_cast<int>(cv::norm(C - startMarker.rayStart)) - 2;
    // Grid reading samples three channels: the frame is made in BGR, and
    // only the ring is converted when the source has another form.
    cv::Mat F(sourceImage.size(), CV_8UC3, cv::Scalar::all(255));
    const cv::Rect ring =
        cv::Rect(Ci.x - outer, Ci.y - outer, 2 * outer + 1, 2 * outer + 1) & cv::Rect(0, 0, F.cols, F.rows);
    if (!ring.empty()) {
        const cv::Matx33d toRing(1, 0, -ring.x, 0, 1, -ring.y, 0, 0, 1);
        // A BGR source is warped straight into the frame.
        const bool bgr = sourceImage.type() == CV_8UC3;
        cv::Mat target = F(ring);
        cv::Mat warped = bgr ? target : cv::Mat();
        cv::warpPerspective(sourceImage, warped, toRing * homography, ring.size(), cv::INTER_NEAREST,
                            cv::BORDER_REPLICATE);
        cv::Mat mask(ring.size(), warped.type(), cv::Scalar::all(255));
        const cv::Point ringCentre = Ci - ring.tl();
        cv::circle(mask, ringCentre, outer, cv::Scalar::all(0), cv::FILLED, cv::LINE_8);
        if (inner >= 0) cv::circle(mask, ringCentre, inner, cv::Scalar::all(255), cv::FILLED, cv::LINE_8);
        cv::bitwise_or(warped, mask, warped);
        if (!bgr) cv::cvtColor(warped, target, warped.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    }
    logger().line(LogLevel::Debug, "        finalTransform");
    return F;
}

} // namespace orb
