#include "orb/geometry/image_corrections.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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
    // A fit that throws the start marker out of the image is no view of the
    // code (a nearly degenerate homography): the rings would be sought
    // thousands of pixels away.
    const cv::Rect2f inside(0, 0, static_cast<float>(input.image.cols), static_cast<float>(input.image.rows));
    if (!inside.contains(marker[0]) || !inside.contains(marker[1])) return result;
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

namespace {

// The ring that the final transform keeps: between the inner circle and the
// bar's outer end, within its box in the image.
struct RingBox {
    cv::Rect box;       // clipped to the image
    cv::Point centre;   // in the box
    int outer = 0;
    int inner = 0;
};

RingBox ringBox(const StageInput& input, const cv::Size& frame, const StartMarker& startMarker)
{
    const cv::Point2d C = imageCentre(input.image);
    const cv::Point Ci(cvRound(C.x), cvRound(C.y));
    RingBox ring;
    ring.outer = static_cast<int>(cv::norm(C - startMarker.barEnd)) + 2;
    ring.inner = static_cast<int>(cv::norm(C - startMarker.rayStart)) - 2;
    ring.box = cv::Rect(Ci.x - ring.outer, Ci.y - ring.outer, 2 * ring.outer + 1, 2 * ring.outer + 1) &
               cv::Rect(cv::Point(0, 0), frame);
    ring.centre = Ci - ring.box.tl();
    return ring;
}

// White (all channels 255) off the ring, black on it.
cv::Mat ringMask(const RingBox& ring, int type)
{
    cv::Mat mask(ring.box.size(), type, cv::Scalar::all(255));
    cv::circle(mask, ring.centre, ring.outer, cv::Scalar::all(0), cv::FILLED, cv::LINE_8);
    if (ring.inner >= 0) cv::circle(mask, ring.centre, ring.inner, cv::Scalar::all(255), cv::FILLED, cv::LINE_8);
    return mask;
}

cv::Matx33d toBox(const cv::Rect& box, const cv::Matx33d& homography)
{
    return cv::Matx33d(1, 0, -box.x, 0, 1, -box.y, 0, 0, 1) * homography;
}

} // namespace

cv::Mat finalTransform(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker)
{
    // Only the ring between the inner circle and the bar's outer end is
    // kept; everything else is white so stray marks cannot be sampled. So
    // only the ring's bounding box is warped, not the whole frame.
    // Grid reading samples three channels: the frame is made in BGR, and
    // only the ring is converted when the source has another form.
    cv::Mat F(sourceImage.size(), CV_8UC3, cv::Scalar::all(255));
    const RingBox ring = ringBox(input, F.size(), startMarker);
    if (!ring.box.empty()) {
        // A BGR source is warped straight into the frame.
        const bool bgr = sourceImage.type() == CV_8UC3;
        cv::Mat target = F(ring.box);
        cv::Mat warped = bgr ? target : cv::Mat();
        cv::warpPerspective(sourceImage, warped, toBox(ring.box, homography), ring.box.size(), cv::INTER_NEAREST,
                            cv::BORDER_REPLICATE);
        cv::bitwise_or(warped, ringMask(ring, warped.type()), warped);
        if (!bgr) cv::cvtColor(warped, target, warped.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    }
    logger().line(LogLevel::Debug, "        finalTransform");
    return F;
}

WarpedRing::WarpedRing(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker)
    : source(sourceImage), frame(sourceImage.size())
{
    CV_Assert(source.depth() == CV_8U && (source.channels() == 1 || source.channels() == 3 || source.channels() == 4));
    const RingBox box = ringBox(input, frame, startMarker);
    ring = box.box;
    if (!ring.empty()) {
        outside = ringMask(box, CV_8UC1);
        // As the library's warp: the matrix inverted in place, and the
        // columns taken in blocks as wide as its fixed block area allows.
        cv::Mat M(toBox(ring, homography));
        cv::invert(M, M);
        inverse = cv::Matx33d(M);
        constexpr int kBlockArea = 32 * 32;
        const int blockHeight = std::min(32 / 2, ring.height);
        blockWidth = std::min(kBlockArea / blockHeight, ring.width);
    }
    logger().line(LogLevel::Debug, "        finalTransform");
}

cv::Vec3b WarpedRing::at(int x, int y) const
{
    const cv::Vec3b white(255, 255, 255);
    const int bx = x - ring.x;
    const int by = y - ring.y;
    if (bx < 0 || by < 0 || bx >= ring.width || by >= ring.height || outside.at<std::uint8_t>(by, bx) != 0)
        return white;

    // The nearest-neighbour warp's own sums, in its order, so that every
    // rounding comes out the same.
    const double* M = inverse.val;
    const int block = bx / blockWidth * blockWidth;
    const int step = bx - block;
    const double X0 = M[0] * block + M[1] * by + M[2];
    const double Y0 = M[3] * block + M[4] * by + M[5];
    const double W0 = M[6] * block + M[7] * by + M[8];
    double W = W0 + M[6] * step;
    W = W != 0 ? 1. / W : 0;
    constexpr double kLow = std::numeric_limits<int>::min();
    constexpr double kHigh = std::numeric_limits<int>::max();
    const double fX = std::max(kLow, std::min(kHigh, (X0 + M[0] * step) * W));
    const double fY = std::max(kLow, std::min(kHigh, (Y0 + M[3] * step) * W));
    // Coordinates are kept in 16 bits, and clamped onto the source.
    const int sx = std::clamp<int>(cv::saturate_cast<short>(cvRound(fX)), 0, source.cols - 1);
    const int sy = std::clamp<int>(cv::saturate_cast<short>(cvRound(fY)), 0, source.rows - 1);
    const std::uint8_t* pixel = source.ptr<std::uint8_t>(sy) + static_cast<std::ptrdiff_t>(sx) * source.channels();
    if (source.channels() == 1) return {pixel[0], pixel[0], pixel[0]};
    return {pixel[0], pixel[1], pixel[2]};
}

} // namespace orb
