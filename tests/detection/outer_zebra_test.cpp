#include "orb/detection/outer_zebra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
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

TEST(OuterZebra, FingerOverTheBarsEndLeavesTheOuterEdgeToTry)
{
    for (bool darkFinger : {false, true}) {
        test::SyntheticCode code;
        code.centre = {320.37, 240.21};
        cv::Mat image = test::drawSyntheticCode(code);
        // A finger from outside over the bar's outer half: the bar's run,
        // and so its end, stops at the fingertip.
        const cv::Point2d direction(std::cos(code.startAngle), -std::sin(code.startAngle));
        const double tip = code.firstRingInner() + 2 * code.pitch;
        cv::line(image, code.centre + (tip + 20) * direction, code.centre + 400 * direction,
                 cv::Scalar(darkFinger ? 0 : 255), 40);
        StartMarker marker;
        marker.angle = code.startAngle;
        marker.rayStart = code.centre + (code.hub + 5) * direction;
        marker.barEnd = code.centre + tip * direction;
        marker.firstRunEnd = marker.barEnd;

        EXPECT_NEAR(outerEdgeRadius(image, code.hub + 5), code.outerRadius(), 2) << darkFinger;
        const std::vector<cv::Point2d> trials = outerZebraTrialPoints(image, marker);
        const std::optional<cv::Point2d> edge = outerEdgeTrialPoint(image, marker, trials);
        ASSERT_TRUE(edge) << darkFinger;
        EXPECT_FALSE(outerEdgeTrialPoint(image, marker, {*edge})) << "a point tried is not offered again";
        const Found<OuterZebra> found = detectOuterZebra(image, code.modulesPerRing, marker, *edge);
        ASSERT_TRUE(found) << darkFinger;
        EXPECT_NEAR(found->zebra.radius, code.outerRadius(), 2);
    }
}

// Beyond the image counts as the quiet zone's white, whatever the memory
// the polar image is made in held before: the read of one image must not
// change with what was read before it. All black, the image shows no quiet
// zone; its corners run out into white.
TEST(OuterZebra, BeyondTheImageIsWhiteWhateverTheMemoryHeld)
{
    const cv::Mat image(480, 640, CV_8U, cv::Scalar(0));
    const int reach = static_cast<int>(std::ceil(std::hypot(image.cols / 2.0, image.rows / 2.0)));
    std::vector<double> edges;
    for (const int held : {0, 255}) {
        // Memory of the polar image's size, left holding one colour.
        cv::Mat(720, reach, CV_8U, cv::Scalar(held)).release();
        edges.push_back(outerEdgeRadius(image, 20));
    }
    EXPECT_GT(edges[0], image.rows / 2);
    EXPECT_EQ(edges[0], edges[1]);
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

// The colour changes along the outline the library draws, found by
// searching the whole drawn image: what the sampling must reproduce.
ColorChanges changesAlongDrawnOutline(const cv::Mat& image, cv::Point centre, cv::Size axes, double angle, int from,
                                      int to)
{
    cv::Mat outline(image.size(), CV_8UC1, cv::Scalar(0));
    cv::ellipse(outline, centre, axes, angle, from, to, cv::Scalar(255), 1, cv::LINE_8);
    std::vector<cv::Point> pixels;
    cv::findNonZero(outline, pixels);
    struct Sample {
        double angle;
        int y, x;
        bool white;
    };
    std::vector<Sample> samples;
    for (const cv::Point& p : pixels)
        samples.push_back({std::atan2(static_cast<double>(centre.y - p.y), static_cast<double>(p.x - centre.x)), p.y,
                           p.x, image.at<std::uint8_t>(p) != 0});
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        return std::tie(a.angle, a.y, a.x) < std::tie(b.angle, b.y, b.x);
    });
    ColorChanges changes;
    changes.startColor = 255;
    if (samples.empty()) return changes;
    changes.startColor = samples.front().white ? 255 : 0;
    samples.push_back(samples.front());
    for (std::size_t i = 1; i < samples.size(); ++i)
        if (samples[i].white != samples[i - 1].white) changes.angles.push_back(samples[i].angle);
    if (!changes.angles.empty() && changes.angles.back() < 0) changes.angles.back() += kTwoPi;
    return changes;
}

// Fills `image` with fresh black-and-white noise, where every missed,
// doubled or misplaced pixel shows as a different change, and compares the
// sampling with the drawn outline.
void expectSamplingAsDrawn(cv::Mat& image, const cv::Point& centre, const cv::Size& axes, double angle, int from,
                           int to, int trial)
{
    cv::randu(image, 0, 2);
    image *= 255;
    const ColorChanges sampled = sampleEllipse(image, centre, axes, angle, from, to);
    const ColorChanges drawn = changesAlongDrawnOutline(image, centre, axes, angle, from, to);
    EXPECT_EQ(sampled.startColor, drawn.startColor) << trial;
    EXPECT_EQ(sampled.angles, drawn.angles) << trial;
}

TEST(OuterZebra, EllipseSamplingTakesEveryPixelOfTheDrawnOutline)
{
    // Noise makes every missed or doubled pixel show as a different change.
    std::mt19937 random(7);
    cv::Mat image(360, 480, CV_8UC1);
    for (int trial = 0; trial < 300; ++trial) {
        // Large and tiny outlines, turned by fractional degrees, whole and
        // partial, inside the image and cut by its edge.
        const cv::Point centre(static_cast<int>(random() % 560) - 40, static_cast<int>(random() % 440) - 40);
        const cv::Size axes = trial % 3 == 0 ? cv::Size(random() % 12, random() % 12)
                                             : cv::Size(random() % 300, random() % 300);
        const double angle = static_cast<int>(random() % 3600) / 10.0 - 180;
        const int from = trial % 4 == 0 ? static_cast<int>(random() % 180) : 0;
        const int to = trial % 4 == 0 ? from + static_cast<int>(random() % 300) : 360;
        expectSamplingAsDrawn(image, centre, axes, angle, from, to, trial);
    }
}

TEST(OuterZebra, EllipseSamplingOrdersPixelsAsTheirAngleDoes)
{
    // Small outlines put several pixels on one ray from the centre, and
    // flat ones crowd many pixels into a narrow range of angles: the order
    // must still be atan2's, ties by row and column.
    std::mt19937 random(11);
    cv::Mat image(120, 160, CV_8UC1);
    for (int trial = 0; trial < 3000; ++trial) {
        const cv::Point centre(static_cast<int>(random() % 200) - 20, static_cast<int>(random() % 160) - 20);
        const bool flat = trial % 2 == 0;
        const cv::Size axes(static_cast<int>(random() % 40), static_cast<int>(random() % (flat ? 4 : 40)));
        const double angle = static_cast<int>(random() % 7200) / 20.0 - 180;
        expectSamplingAsDrawn(image, centre, axes, angle, 0, 360, trial);
    }
}

} // namespace
} // namespace orb
