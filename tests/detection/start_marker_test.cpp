#include "orb/detection/start_marker.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "synthetic_code.h"

namespace orb {
namespace {

double angleGap(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), kTwoPi);
    return std::min(d, kTwoPi - d);
}

const StartMarkerCandidate* best(const std::vector<StartMarkerCandidate>& candidates)
{
    const StartMarkerCandidate* top = nullptr;
    for (const StartMarkerCandidate& c : candidates) {
        if (!top || c.plausibility > top->plausibility) top = &c;
    }
    return top;
}

TEST(StartMarker, CleanBarIsFoundWithItsLengthAndScoresHigh)
{
    for (int modules : {16, 32, 48, 64}) {
        for (double startAngle : {0.3, 1.0, 4.0}) {
            test::SyntheticCode code;
            code.modulesPerRing = modules;
            code.startAngle = startAngle;
            code.centre = {320.37, 240.21};
            const cv::Mat image = test::drawSyntheticCode(code);
            const std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, code.hub + 5, modules, false);
            const StartMarkerCandidate* top = best(candidates);
            ASSERT_NE(top, nullptr);
            EXPECT_GE(top->plausibility, 10) << modules << " " << startAngle;
            EXPECT_LT(angleGap(top->marker.angle, startAngle), code.moduleAngle() / 4) << modules << " " << startAngle;
            const cv::Point2d centre(320, 240);
            EXPECT_NEAR(cv::norm(top->marker.rayStart - centre), code.hub + 5, 1e-9);
            EXPECT_NEAR(cv::norm(top->marker.barEnd - centre), code.outerRadius(), 2.5);
            EXPECT_EQ(checkSingleStartMarker(image, code.hub + 5, modules), Success);
        }
    }
}

TEST(StartMarker, RaysStartFromTheCentreTheCorrectionsUse)
{
    // Corrections put the code centre at the exact middle of the image, half
    // a pixel off the integer middle when a side is odd.
    test::SyntheticCode code;
    code.size = {641, 481};
    code.centre = {320.5, 240.5};
    const cv::Mat image = test::drawSyntheticCode(code);
    const std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, code.hub + 5, 32, false);
    const StartMarkerCandidate* top = best(candidates);
    ASSERT_NE(top, nullptr);
    EXPECT_NEAR(cv::norm(top->marker.rayStart - code.centre), code.hub + 5, 1e-9);
}

TEST(StartMarker, NoBarNoCandidate)
{
    const cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(255));
    EXPECT_TRUE(findStartMarkers(blank, 50, 32, false).empty());
    EXPECT_EQ(checkSingleStartMarker(blank, 50, 32), StartMarkerNotDetected);
    EXPECT_EQ(detectStartMarker(blank, 32, 45).code, StartMarkerNotDetected);

    test::SyntheticCode code;
    code.bar = false;
    EXPECT_EQ(checkSingleStartMarker(test::drawSyntheticCode(code), code.hub + 5, 32), StartMarkerNotDetected);
}

TEST(StartMarker, BarsFartherApartThanTwoModulesAreSeparateCandidates)
{
    test::SyntheticCode code;
    code.secondBar = true;
    const std::vector<StartMarkerCandidate> candidates = findStartMarkers(test::drawSyntheticCode(code), code.hub + 5, 32, false);
    int nearFirst = 0;
    int nearSecond = 0;
    for (const StartMarkerCandidate& c : candidates) {
        if (angleGap(c.marker.angle, code.startAngle) < 0.05) ++nearFirst;
        if (angleGap(c.marker.angle, code.startAngle - kTwoPi / 2) < 0.05) ++nearSecond;
    }
    EXPECT_EQ(nearFirst, 1);
    EXPECT_EQ(nearSecond, 1);
}

TEST(StartMarker, BarSplitByAWhiteGapEndsBeyondTheGap)
{
    test::SyntheticCode code;
    code.centre = {320, 240};
    cv::Mat image = test::drawSyntheticCode(code);
    // A white speck across the middle of the bar, the bar's edges intact.
    const double gapRadius = code.firstRingInner() + 2.5 * code.pitch;
    const cv::Point2d centre(320, 240);
    for (double a = -0.15; a <= 0.15; a += 0.05) {
        const double angle = code.startAngle + a * code.moduleAngle();
        for (double rho = gapRadius; rho < gapRadius + 3; rho += 0.5) {
            const cv::Point2d p = centre + rho * cv::Point2d(std::cos(angle), -std::sin(angle));
            image.at<std::uint8_t>(cvRound(p.y), cvRound(p.x)) = 255;
        }
    }
    const std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, code.hub + 5, 32, false);
    const StartMarkerCandidate* top = best(candidates);
    ASSERT_NE(top, nullptr);
    EXPECT_LT(cv::norm(top->marker.firstRunEnd - centre), gapRadius + 1);
    EXPECT_NEAR(cv::norm(top->marker.barEnd - centre), code.outerRadius(), 2.5);
}

} // namespace
} // namespace orb
