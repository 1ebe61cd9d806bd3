#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/geometry/image_corrections.h"
#include "support/log_capture.h"

namespace orb {
namespace {

cv::Point2d apply(const cv::Matx33d& T, cv::Point2d p)
{
    const cv::Vec3d q = T * cv::Vec3d(p.x, p.y, 1);
    return {q[0] / q[2], q[1] / q[2]};
}


// Zebra points at their slots on a circle, then seen through `view`.
ZebraResult zebraSeenThrough(const cv::Matx33d& view, cv::Point2d centre, double radius, int count)
{
    ZebraResult zebra;
    zebra.count = count;
    zebra.radius = radius;
    for (int slot = 0; slot < count; slot += (slot % 3 == 0 ? 1 : 2)) {
        const double theta = 2 * std::numbers::pi * slot / count;
        const cv::Point2d seen = apply(view, centre + radius * cv::Point2d(std::cos(theta), -std::sin(theta)));
        zebra.points.push_back({static_cast<float>(seen.x), static_cast<float>(seen.y), theta, slot});
    }
    return zebra;
}

const cv::Matx33d kMildPerspective(1.05, 0.08, -30, -0.04, 0.97, 25, 0.00012, -0.00009, 1);

TEST(AffineTransform, MakesTheInnerCircleRoundAndCentred)
{
    DecoderConfiguration config;
    for (const cv::RotatedRect& ellipse : {cv::RotatedRect({320, 240}, {100, 80}, 0),
                                           cv::RotatedRect({250.5f, 300.25f}, {90, 60}, 35)}) {
        cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
        cv::ellipse(image, ellipse, cv::Scalar(0), cv::FILLED);
        const double R = std::max(ellipse.size.width, ellipse.size.height) / 2.0;
        LogCapture log;
        const CorrectedImage corrected = affineTransform(StageInput{config, image}, ellipse, R);
        EXPECT_EQ(log.text(), "Debug\t affineTransform\n");

        EXPECT_EQ(corrected.transform(2, 0), 0);
        EXPECT_EQ(corrected.transform(2, 1), 0);
        EXPECT_EQ(corrected.transform(2, 2), 1);
        const cv::Point2d C(320, 240);
        EXPECT_LT(cv::norm(apply(corrected.transform, ellipse.center) - C), 1e-3);
        cv::Point2f corners[4];
        ellipse.points(corners);
        for (const cv::Point2f& corner : corners)
            EXPECT_NEAR(cv::norm(apply(corrected.transform, corner) - C), R * std::sqrt(2.0), 1e-3);

        // The ellipse is now a black disc of radius R.
        ASSERT_EQ(corrected.image.size(), image.size());
        EXPECT_NEAR(cv::countNonZero(corrected.image == 0), std::numbers::pi * R * R, 0.03 * std::numbers::pi * R * R);
        EXPECT_EQ(corrected.image.at<uchar>(240, 320), 0);
        EXPECT_EQ(corrected.image.at<uchar>(240, 320 + static_cast<int>(R) + 2), 255);
    }
}

TEST(PerspectiveTransform1, PutsInnerZebraPointsOnTheirSlots)
{
    DecoderConfiguration config;
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(0));
    const cv::Point2d C(320, 240);
    const ZebraResult zebra = zebraSeenThrough(kMildPerspective, {300, 260}, 60, 8);
    LogCapture log;
    const CorrectedImage corrected = perspectiveTransform1(StageInput{config, image}, zebra);
    EXPECT_EQ(log.text(), "Debug\t   perspectiveTransform1\n");
    for (const ZebraPoint& p : zebra.points) {
        const double theta = 2 * std::numbers::pi * p.slot / zebra.count;
        const cv::Point2d target = C + 60 * cv::Point2d(std::cos(theta), -std::sin(theta));
        EXPECT_LT(cv::norm(apply(corrected.transform, {p.x, p.y}) - target), 0.01) << "slot " << p.slot;
    }
    // What the warp uncovers is white.
    EXPECT_GT(cv::countNonZero(corrected.image), 0);
}

TEST(PerspectiveTransform2, MapsOuterZebraNearTheBorderAndMovesTheMarker)
{
    DecoderConfiguration config;
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(0));
    const cv::Point2d C(320, 240);
    const ZebraResult zebra = zebraSeenThrough(kMildPerspective, {310, 250}, 180, 32);

    // A bar pointing straight down-left in the undistorted code.
    const double barAngle = 4.0;
    const cv::Point2d dir(std::cos(barAngle), -std::sin(barAngle));
    StartMarker marker;
    marker.rayStart = apply(kMildPerspective, cv::Point2d(310, 250) + 40 * dir);
    marker.barEnd = apply(kMildPerspective, cv::Point2d(310, 250) + 180 * dir);
    marker.firstRunEnd = {1, 2};

    const CorrectedImage corrected = perspectiveTransform2(StageInput{config, image}, marker, zebra);
    for (const ZebraPoint& p : zebra.points) {
        const double theta = 2 * std::numbers::pi * p.slot / zebra.count;
        const cv::Point2d target = C + 230 * cv::Point2d(std::cos(theta), -std::sin(theta));
        EXPECT_LT(cv::norm(apply(corrected.transform, {p.x, p.y}) - target), 0.01) << "slot " << p.slot;
    }
    EXPECT_NEAR(cv::norm(marker.barEnd - C), 230, 0.05);
    EXPECT_NEAR(cv::norm(marker.rayStart - C), 40 * 230 / 180.0, 0.05);
    EXPECT_NEAR(marker.angle, barAngle, 1e-4);
    EXPECT_EQ(marker.firstRunEnd, cv::Point2d(1, 2));
    // The border is replicated, not painted white.
    EXPECT_EQ(cv::countNonZero(corrected.image), 0);

    // Angles stay in [0, 2π) for a bar just below the centre line.
    StartMarker below;
    below.barEnd = C + cv::Point2d(100, 1);
    const ZebraResult straight = zebraSeenThrough(cv::Matx33d::eye(), C, 230, 16);
    perspectiveTransform2(StageInput{config, image}, below, straight);
    EXPECT_GT(below.angle, 6.2);
    EXPECT_LT(below.angle, 2 * std::numbers::pi);
}

// A fit that throws the start marker out of the image is refused, and the
// marker stays as the uncorrected view had it: a degenerate fit once sent a
// later stage to seek rings tens of thousands of pixels out, which OpenCV's
// warps refuse with an exception.
TEST(PerspectiveTransform2, RefusesAFitThatThrowsTheMarkerOutOfTheImage)
{
    DecoderConfiguration config;
    const cv::Mat image(480, 640, CV_8UC1, cv::Scalar(0));
    const cv::Point2d C(320, 240);
    StartMarker marker;
    marker.rayStart = C + cv::Point2d(40, 0);
    marker.barEnd = C + cv::Point2d(2000, 0);
    marker.angle = 0.25;
    const StartMarker before = marker;
    const ZebraResult straight = zebraSeenThrough(cv::Matx33d::eye(), C, 230, 16);
    EXPECT_TRUE(perspectiveTransform2(StageInput{config, image}, marker, straight).image.empty());
    EXPECT_EQ(marker.barEnd, before.barEnd);
    EXPECT_EQ(marker.rayStart, before.rayStart);
    EXPECT_EQ(marker.angle, before.angle);
}

TEST(PerspectiveTransform1, PointsThatAdmitNoFitLeaveNothingToRetry)
{
    // Four features on one spot: the least-squares fit has no solution. The
    // retry is skipped and the stage's own result comes back.
    DecoderConfiguration config;
    const cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
    ZebraResult zebra;
    zebra.count = 8;
    zebra.radius = 50;
    for (int slot : {0, 2, 4, 6}) zebra.points.push_back({100, 100, 0, slot});
    EXPECT_TRUE(perspectiveTransform1(StageInput{config, image}, zebra).image.empty());

    // Fewer than four points cannot fix a homography: no fit, no exception.
    ZebraResult three;
    three.count = 8;
    three.radius = 50;
    for (int slot : {0, 2, 4}) three.points.push_back({static_cast<float>(320 + slot * 10), 240.0f, 0, slot});
    StartMarker marker;
    EXPECT_NO_THROW(EXPECT_TRUE(perspectiveTransform1(StageInput{config, image}, three).image.empty()));
    EXPECT_NO_THROW(EXPECT_TRUE(perspectiveTransform2(StageInput{config, image}, marker, three).image.empty()));
}

TEST(FinalTransform, KeepsOnlyTheCodeRing)
{
    DecoderConfiguration config;
    const cv::Mat binary(480, 640, CV_8UC1, cv::Scalar(0));
    cv::Mat source(480, 640, CV_8UC3);
    cv::randu(source, 0, 200);
    StartMarker marker;
    marker.rayStart = {320 + 40, 240};
    marker.barEnd = {320, 240 - 150.7};

    LogCapture log;
    const cv::Mat F = finalTransform(StageInput{config, binary}, source, cv::Matx33d::eye(), marker);
    EXPECT_EQ(log.text(), "Debug\t        finalTransform\n");
    ASSERT_EQ(F.type(), CV_8UC3);
    const cv::Vec3b white(255, 255, 255);
    EXPECT_EQ(F.at<cv::Vec3b>(240, 320), white);
    EXPECT_EQ(F.at<cv::Vec3b>(240, 320 + 37), white);
    EXPECT_EQ(F.at<cv::Vec3b>(240, 320 + 153), white);
    EXPECT_EQ(F.at<cv::Vec3b>(10, 10), white);
    for (cv::Point inside : {cv::Point(320 + 40, 240), cv::Point(320, 240 + 150), cv::Point(320 - 100, 240)})
        EXPECT_EQ(F.at<cv::Vec3b>(inside), source.at<cv::Vec3b>(inside));

    // The homography moves the source; gray and four-channel sources come out in three channels.
    const cv::Matx33d shift(1, 0, 5, 0, 1, -3, 0, 0, 1);
    cv::Mat gray;
    cv::cvtColor(source, gray, cv::COLOR_BGR2GRAY);
    const cv::Mat G = finalTransform(StageInput{config, binary}, gray, shift, marker);
    ASSERT_EQ(G.type(), CV_8UC3);
    const uchar expected = gray.at<uchar>(240 + 3, 320 - 100 - 5);
    EXPECT_EQ(G.at<cv::Vec3b>(240, 320 - 100), cv::Vec3b(expected, expected, expected));
    cv::Mat bgra;
    cv::cvtColor(source, bgra, cv::COLOR_BGR2BGRA);
    EXPECT_EQ(finalTransform(StageInput{config, binary}, bgra, shift, marker).type(), CV_8UC3);

    // Only the ring's box is warped: a tilted view gives what warping the
    // whole frame and whitening outside the ring gives, also where the ring
    // runs off the frame.
    const cv::Matx33d tilt(1.02, 0.03, -9, -0.02, 0.98, 6, 0.00004, -0.00003, 1);
    marker.barEnd = {320, 240 - 260.2};
    cv::Mat whole;
    cv::warpPerspective(source, whole, tilt, source.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    cv::Mat ring(source.size(), CV_8UC3, cv::Scalar::all(255));
    cv::circle(ring, {320, 240}, 262, cv::Scalar::all(0), cv::FILLED);
    cv::circle(ring, {320, 240}, 38, cv::Scalar::all(255), cv::FILLED);
    cv::bitwise_or(whole, ring, whole);
    const cv::Mat T = finalTransform(StageInput{config, binary}, source, tilt, marker);
    cv::Mat difference;
    cv::absdiff(T, whole, difference);
    EXPECT_EQ(cv::countNonZero(difference.reshape(1)), 0);

    // A ray start at the centre leaves no inner disc to whiten.
    marker.rayStart = {320, 240};
    EXPECT_NO_THROW(finalTransform(StageInput{config, binary}, source, cv::Matx33d::eye(), marker));
}

} // namespace
TEST(FinalTransform, RingWarpedWhereSampledIsTheWarpedImage)
{
    // Every pixel read one by one is the one the whole warp puts there:
    // strong and mild perspectives, grey, BGR and BGRA sources, rings
    // inside the image, cut by its edges, and boxes too small for a whole
    // block of the library's warp.
    DecoderConfiguration config;
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int trial = 0; trial < 60; ++trial) {
        const cv::Size size(120 + static_cast<int>(random() % 200), 90 + static_cast<int>(random() % 150));
        const int type = trial % 3 == 0 ? CV_8UC1 : trial % 3 == 1 ? CV_8UC3 : CV_8UC4;
        cv::Mat source(size, type);
        cv::randu(source, 0, 256);
        const cv::Mat binary(size, CV_8UC1, cv::Scalar(0));
        const double tilt = trial % 2 == 0 ? 0.002 : 0.0002;
        // Scales and shifts by halves put source points exactly between
        // pixels, where only the warp's own rounding gives its pixel.
        const cv::Matx33d homography =
            trial % 4 == 3 ? cv::Matx33d(0.5 * (1 + trial % 3), 0, 0.25 * (trial % 7), 0, 0.5, -0.75, 0, 0, 1)
                           : cv::Matx33d(1 + 0.1 * unit(random), 0.1 * unit(random), 20 * unit(random),
                                         0.1 * unit(random), 1 + 0.1 * unit(random), 20 * unit(random),
                                         tilt * unit(random), tilt * unit(random), 1);
        const cv::Point2d C(size.width * 0.5, size.height * 0.5);
        const double outer = static_cast<double>(trial % 5 == 0 ? 3 + random() % 8 : 10 + random() % 160);
        StartMarker marker;
        marker.barEnd = C + outer * cv::Point2d(std::cos(trial), std::sin(trial));
        marker.rayStart = C + cv::Point2d(static_cast<double>(random() % 40), 0);

        const cv::Mat whole = finalTransform(StageInput{config, binary}, source, homography, marker);
        const WarpedRing ring(StageInput{config, binary}, source, homography, marker);
        ASSERT_EQ(ring.size(), whole.size());
        int differences = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) differences += ring.at(x, y) != whole.at<cv::Vec3b>(y, x);
        EXPECT_EQ(differences, 0) << trial;
    }
}

} // namespace orb
