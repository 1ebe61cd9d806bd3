#include "orb/detection/outer_zebra.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "synthetic_code.h"

namespace orb {
namespace {

TEST(OuterZebra, OneMarkerPerBlackModuleOnTheOuterRing)
{
    for (int modules : {16, 32, 48}) {
        test::SyntheticCode code;
        code.modulesPerRing = modules;
        code.centre = {320.37, 240.21};
        const cv::Mat image = test::drawSyntheticCode(code);
        // The trial point is the bar's outer end.
        const cv::Point2d trial = code.centre + code.outerRadius() * cv::Point2d(std::cos(1.0), -std::sin(1.0));
        const Found<ZebraResult> found = findOuterZebra(image, modules, trial);
        ASSERT_EQ(found.code, Success) << modules;
        const ZebraResult& result = *found;
        EXPECT_EQ(result.count, modules / 2);
        ASSERT_EQ(result.points.size(), static_cast<std::size_t>(modules / 2));
        EXPECT_NEAR(result.radius, code.outerRadius(), 2);
        for (const ZebraPoint& point : result.points) {
            EXPECT_EQ(test::positionAt(code, point.angle) % 2, 0) << modules;
            EXPECT_NEAR(cv::norm(cv::Point2d(point.x, point.y) - code.centre), code.outerRadius(), 2);
        }
    }
}

TEST(OuterZebra, RingOfOneColourHasNoModules)
{
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
    cv::circle(image, {320, 240}, 150, cv::Scalar(0), cv::FILLED);
    cv::circle(image, {320, 240}, 40, cv::Scalar(255), cv::FILLED);
    EXPECT_EQ(findOuterZebra(image, 32, {470, 240}).code, WrongOuterZebraModuleCount);
    // Nothing at all to fit an outline to.
    const cv::Mat blank(480, 640, CV_8UC1, cv::Scalar(255));
    EXPECT_EQ(findOuterZebra(blank, 32, {470, 240}).code, WrongOuterZebraModuleCount);
}

TEST(OuterZebra, EllipseSamplingReportsWhereTheColourChanges)
{
    // Left half black: the sampling starts at -pi (black) and changes to
    // white at -pi/2 and back to black at +pi/2.
    cv::Mat image(200, 200, CV_8UC1, cv::Scalar(255));
    image.colRange(0, 100).setTo(0);
    const ColorChanges changes = sampleEllipse(image, {100, 100}, {60, 40}, 0, 0, 360);
    EXPECT_EQ(changes.startColor, 0);
    ASSERT_EQ(changes.angles.size(), 2u);
    EXPECT_NEAR(changes.angles[0], -kTwoPi / 4, 0.05);
    EXPECT_NEAR(changes.angles[1], kTwoPi / 4, 0.05);
    // An outline off the image yields nothing rather than failing.
    EXPECT_TRUE(sampleEllipse(image, {-500, -500}, {60, 40}, 0, 0, 360).angles.empty());
}

} // namespace
} // namespace orb
