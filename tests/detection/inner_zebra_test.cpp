#include "orb/detection/inner_zebra.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "synthetic_code.h"

namespace orb {
namespace {

TEST(InnerZebra, FeatureCountFixesTheModulesPerRing)
{
    for (int modules : {16, 32, 48, 64}) {
        for (const cv::Point2d centre : {cv::Point2d(320, 240), cv::Point2d(320.37, 240.21)}) {
            test::SyntheticCode code;
            code.modulesPerRing = modules;
            code.centre = centre;
            const Found<ZebraResult> found = findInnerZebra(test::drawSyntheticCode(code), code.hub);
            ASSERT_EQ(found.code, Success) << modules;
            const ZebraResult& result = *found;
            EXPECT_EQ(result.count, modules / 4);
            ASSERT_EQ(result.points.size(), static_cast<std::size_t>(modules / 4));
            // Markers end where the notches begin.
            EXPECT_NEAR(result.radius, code.hub + code.z(), 1.5);
            // Slot 0 is the feature with the smallest angle, a module position 3 mod 4.
            const int position = test::positionAt(code, result.points[0].angle);
            EXPECT_EQ(position % 4, 3) << modules;
            for (std::size_t i = 0; i < result.points.size(); ++i) EXPECT_EQ(result.points[i].slot, static_cast<int>(i));
        }
    }
}

TEST(InnerZebra, MissingFeatureIsInterpolatedBetweenItsNeighbours)
{
    test::SyntheticCode code;
    code.missingFeature = 3;
    const Found<ZebraResult> found = findInnerZebra(test::drawSyntheticCode(code), code.hub);
    ASSERT_EQ(found.code, Success);
    const ZebraResult& result = *found;
    EXPECT_EQ(result.count, 8);
    ASSERT_EQ(result.points.size(), 8u);
    // Every marker, the interpolated one too, sits on the notch radius.
    const cv::Point2d centre(320, 240);
    for (const ZebraPoint& point : result.points) {
        EXPECT_NEAR(cv::norm(cv::Point2d(point.x, point.y) - centre), code.hub + code.z(), 1.5) << point.slot;
    }
}

TEST(InnerZebra, RingWithoutFeaturesIsNoMarker)
{
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
    cv::circle(image, {320, 240}, 80, cv::Scalar(0), cv::FILLED);
    cv::circle(image, {320, 240}, 50, cv::Scalar(255), cv::FILLED);
    EXPECT_EQ(findInnerZebra(image, 50).code, PerspectiveMarkersNotDetected);
}

TEST(InnerZebra, FeatureWiderThanAQuarterTurnFailsCleanly)
{
    // Four evenly spaced notches whose runs differ from the rest of the ring
    // by one pixel only: measured with the tolerance of the edge search each
    // spans the whole circle, which leaves no module size.
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
    cv::circle(image, {320, 240}, 61, cv::Scalar(0), cv::FILLED);
    for (int i = 0; i < 4; ++i) {
        cv::ellipse(image, {320, 240}, {61, 61}, 0, i * 90 + 30, i * 90 + 60, cv::Scalar(255), cv::FILLED);
    }
    cv::circle(image, {320, 240}, 60, cv::Scalar(0), cv::FILLED);
    cv::circle(image, {320, 240}, 50, cv::Scalar(255), cv::FILLED);
    EXPECT_EQ(findInnerZebra(image, 50).code, WrongPerspectiveMarkerCount);
}

TEST(InnerZebra, ModuleSizeNeedsAFeatureNarrowerThanAQuarterTurn)
{
    // One module of 32 is 1963 units wide; eight of them make a feature period.
    ASSERT_TRUE(moduleAngleFromFeatureWidth(1963));
    EXPECT_NEAR(*moduleAngleFromFeatureWidth(1963), kTwoPi / 32, 1e-12);
    EXPECT_NEAR(*moduleAngleFromFeatureWidth(15000), kTwoPi / 8, 1e-12);
    // From a quarter turn on there is no module size (it would divide by zero).
    EXPECT_FALSE(moduleAngleFromFeatureWidth(16000));
    EXPECT_FALSE(moduleAngleFromFeatureWidth(63024));
    EXPECT_FALSE(moduleAngleFromFeatureWidth(0));
}

} // namespace
} // namespace orb

namespace orb {
namespace {

// Eight notches where every second one is shallower and ragged: at the
// lowest thresholds only the deep four show, evenly spaced; a little higher
// the ragged ones break into pieces; higher still all eight show.
cv::Mat notchesOfTwoDepths()
{
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const double rho = std::hypot(x - 320.0, y - 240.0);
            double degrees = std::atan2(240.0 - y, x - 320.0) * 180 / CV_PI;
            if (degrees < 0) degrees += 360;
            double notchStart = 80; // the ring without a notch
            for (int k = 0; k < 8; ++k) {
                const double offset = degrees - (10 + 45 * k);
                if (std::abs(offset) > 5.6) continue;
                if (k % 2 == 0) notchStart = 58;
                else notchStart = (k < 4 && offset > 2 && offset < 4) ? 64 : 61;
            }
            if (rho >= 50 && rho < notchStart) image.at<std::uint8_t>(y, x) = 0;
        }
    }
    return image;
}

TEST(InnerZebra, AllFeaturesWinOverAnEvenlySpacedSubset)
{
    const Found<ZebraResult> found = findInnerZebra(notchesOfTwoDepths(), 50);
    ASSERT_EQ(found.code, Success);
    const ZebraResult& result = *found;
    EXPECT_EQ(result.count, 8);
    EXPECT_EQ(result.points.size(), 8u);
}

// Four notches; the second starts a degree late behind a one-degree sliver
// whose run falls just short of the ring's, as a ray grazing a blurred edge
// does. With the sliver the stretches start evenly spaced, so the threshold
// that includes it wins.
cv::Mat notchBehindAGrazingRay()
{
    cv::Mat image(400, 400, CV_8UC1, cv::Scalar(255));
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const double rho = std::hypot(x - 200.0, y - 200.0);
            double degrees = std::atan2(200.0 - y, x - 200.0) * 180 / CV_PI;
            if (degrees < 0) degrees += 360;
            double blackEnd = 90; // the ring without a notch
            for (const double start : {10.5, 101.5, 190.5, 280.5}) {
                if (degrees >= start && degrees < start + 20) blackEnd = 72;
            }
            if (degrees >= 100.5 && degrees < 101.5) blackEnd = 86;
            if (rho >= 60 && rho < blackEnd) image.at<std::uint8_t>(y, x) = 0;
        }
    }
    return image;
}

TEST(InnerZebra, GrazingRayDoesNotWidenItsFeature)
{
    const Found<ZebraResult> found = findInnerZebra(notchBehindAGrazingRay(), 60);
    ASSERT_EQ(found.code, Success);
    const ZebraResult& result = *found;
    EXPECT_EQ(result.count, 4);
    ASSERT_EQ(result.points.size(), 4u);
    // The late notch is found at its own centre, not pulled into the ring.
    EXPECT_NEAR(result.points[1].angle * 180 / CV_PI, 111.5, 1.5);
}

} // namespace
} // namespace orb
