#include "orb/geometry/inner_circle.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "orb/geometry/blob_detector.h"
#include "orb/logger.h"

namespace orb {

namespace {

constexpr int kReduction = 7;
constexpr int kMaxOpenings = 9;
// Blob distances closer than this count as equal.
constexpr double kEqualDistance = 1.0;
// How far (pixels) a blob may differ from the painted centre mark and still be it.
constexpr float kMarkTolerance = 2.0f;

cv::SimpleBlobDetector::Params innerCircleParams(const StageInput& input, double rimLoss)
{
    const int S = (input.image.cols + input.image.rows) / 2;
    cv::SimpleBlobDetector::Params params;
    params.minDistBetweenBlobs = static_cast<float>(input.config.minDistanceBetweenBlobs());
    params.filterByColor = true;
    params.blobColor = 255;
    params.filterByArea = true;
    params.minArea = static_cast<float>(std::numbers::pi * std::pow(std::max(0.0, S / 16.0 - rimLoss), 2));
    params.maxArea = static_cast<float>(std::numbers::pi * std::pow(3.5 * S / 8.0, 2));
    params.filterByCircularity = true;
    params.minCircularity = 0.1f;
    params.maxCircularity = 1.0f;
    params.filterByInertia = false;
    params.filterByConvexity = false;
    params.minRepeatability = 1;
    return params;
}

// 0 for a circle, towards 1 for a line.
double eccentricity(const std::vector<cv::Point>& contour)
{
    const cv::Moments m = cv::moments(contour);
    const double sum = m.mu20 + m.mu02;
    return (std::pow(m.mu20 - m.mu02, 2) + 4 * m.mu11 * m.mu11) / (sum * sum);
}

// The black dot at the centre of a printed code would split the white hub
// into a ring; find the dark region around the rough centre on a reduced
// copy and paint its elliptical fit white. Returns what it painted.
std::optional<cv::RotatedRect> paintBlackCentre(cv::Mat& B, float cx, float cy)
{
    cv::circle(B, cv::Point(static_cast<int>(cx), static_cast<int>(cy)), 10, cv::Scalar(0), cv::FILLED);

    const cv::Size reduced(B.cols / kReduction, B.rows / kReduction);
    if (reduced.width == 0 || reduced.height == 0) return std::nullopt;
    cv::Mat b;
    cv::resize(B, b, reduced, 0, 0, cv::INTER_NEAREST);
    const int sx = std::clamp(static_cast<int>(cx / kReduction), 0, b.cols - 1);
    const int sy = std::clamp(static_cast<int>(cy / kReduction), 0, b.rows - 1);
    b.at<uchar>(sy, sx) = 0;

    const cv::Mat b0 = b.clone();
    cv::Rect filled;
    cv::floodFill(b, cv::Point(sx, sy), cv::Scalar(255), &filled, cv::Scalar(0), cv::Scalar(0), 4);
    cv::Mat region = b(filled);
    cv::bitwise_xor(region, b0(filled), region);

    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
    std::vector<std::vector<cv::Point>> collected;
    for (int k = 1; k <= kMaxOpenings; ++k) {
        cv::Mat opened;
        cv::morphologyEx(region, opened, cv::MORPH_OPEN, kernel, cv::Point(-1, -1), k);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(opened, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE, filled.tl());
        for (std::size_t i = 0; i < contours.size();) {
            if (cv::boundingRect(contours[i]).contains(cv::Point(sx, sy))) {
                ++i;
            } else {
                contours[i] = std::move(contours.back());
                contours.pop_back();
            }
        }
        if (contours.empty()) break;
        for (auto& contour : contours) collected.push_back(std::move(contour));
    }
    if (collected.empty()) return std::nullopt;

    std::size_t chosen = 0;
    if (collected.size() > 1) {
        double best = 1.0;
        for (std::size_t i = 0; i < collected.size(); ++i) {
            const double e = eccentricity(collected[i]);
            if (e < best) {
                best = e;
                chosen = i;
                logger().line(LogLevel::Trace, "Black center: contour ", i, " eccentricity = ", e);
            }
        }
    }
    cv::RotatedRect fit = cv::minAreaRect(collected[chosen]);
    fit.center *= static_cast<float>(kReduction);
    fit.size.width *= kReduction;
    fit.size.height *= kReduction;
    cv::ellipse(B, fit, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    return fit;
}

// True when a blob is the painted centre mark itself, left standing apart
// from the hub by a thin dark rim that the reduced copy could not resolve.
bool isPaintedMark(const cv::RotatedRect& blob, const std::optional<cv::RotatedRect>& mark)
{
    if (!mark) return false;
    const float blobSide = std::max(blob.size.width, blob.size.height);
    const float markSide = std::max(mark->size.width, mark->size.height);
    return cv::norm(blob.center - mark->center) <= kMarkTolerance && std::abs(blobSide - markSide) <= 2 * kMarkTolerance;
}

} // namespace

Found<cv::RotatedRect> findCircle(cv::Mat& binary, const DecoderConfiguration& config, double rimLoss)
{
    logger().line(LogLevel::Debug, "findCircle");
    cv::Mat B = binary;
    const StageInput input{config, binary};

    // Rough centre: middle of the extent of all black pixels.
    cv::Mat black;
    cv::bitwise_not(B, black);
    const cv::Rect extent = cv::boundingRect(black); // empty when there is no black
    // Rounding half to even can land one past the last row or column when
    // the black pixels sit only there.
    const float cx = std::min(std::nearbyint((2.0f * extent.x + extent.width) / 2.0f), B.cols - 1.0f);
    const float cy = std::min(std::nearbyint((2.0f * extent.y + extent.height) / 2.0f), B.rows - 1.0f);

    std::optional<cv::RotatedRect> mark;
    if (B.at<uchar>(static_cast<int>(cy), static_cast<int>(cx)) == 0) mark = paintBlackCentre(B, cx, cy);

    const cv::SimpleBlobDetector::Params params = innerCircleParams(input, rimLoss);
    for (int pass = 1;; pass = 2) {
        BlobDetector detector(params);
        std::vector<cv::KeyPoint> keypoints;
        detector.detect(B, keypoints);
        if (keypoints.empty()) {
            logger().line(LogLevel::Trace, "Center: No keypoints found, iteration = ", pass + 1);
            return {InnerCircleNotFound, {}};
        }

        // Closest to the rough centre wins. The painted centre mark, when it
        // stands apart, is as close as the hub around it (up to sub-pixel
        // noise); between the two the larger one, the hub, is the inner circle.
        cv::RotatedRect winner;
        double winnerDistance = 0;
        for (std::size_t i = 0; i < keypoints.size(); ++i) {
            const cv::RotatedRect rect = cv::minAreaRect(detector.blobContours[i]);
            const double distance = std::hypot(static_cast<double>(rect.center.x) - cx,
                                               static_cast<double>(rect.center.y) - cy);
            bool better = distance < winnerDistance;
            if (std::abs(distance - winnerDistance) <= kEqualDistance &&
                (isPaintedMark(rect, mark) || isPaintedMark(winner, mark)))
                better = rect.size.area() > winner.size.area();
            if (i == 0 || better) {
                winner = rect;
                winnerDistance = distance;
            }
        }
        cv::ellipse(B, winner, cv::Scalar(255), cv::FILLED, cv::LINE_AA);

        if (keypoints.size() == 1 || pass == 2) return {Success, winner};
    }
}

} // namespace orb
