#include "orb/detection/ring_edges.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/detection/ray_walk.h"
#include "synthetic_code.h"

namespace orb {
namespace {

StartMarker markerOf(const test::SyntheticCode& code)
{
    StartMarker marker;
    marker.angle = code.startAngle;
    marker.rayStart = code.centre + (code.hub + 5) * rayDirection(code.startAngle);
    marker.barEnd = code.centre + code.outerRadius() * rayDirection(code.startAngle);
    marker.firstRunEnd = marker.barEnd;
    return marker;
}

// Paints the radial zebra's position over the data rings in one colour, as
// a blot of ink or correction fluid over it would.
void hideRadialZebra(cv::Mat& image, const test::SyntheticCode& code, bool black)
{
    const double e = code.moduleAngle();
    std::vector<cv::Point> sector;
    for (double t = -0.7; t <= 0.7; t += 0.05)
        sector.push_back(code.centre + code.firstRingInner() * rayDirection(code.startAngle - (2 + t) * e));
    for (double t = 0.7; t >= -0.7; t -= 0.05)
        sector.push_back(code.centre + code.outerZebraInner() * rayDirection(code.startAngle - (2 + t) * e));
    cv::fillPoly(image, std::vector<std::vector<cv::Point>>{sector}, cv::Scalar(black ? 0 : 255));
}

TEST(RingEdges, GridOfACodeWhoseRadialZebraIsHidden)
{
    for (int rings : {3, 6, 9}) {
        for (int modules : {32, 64}) {
            for (bool black : {true, false}) {
                test::SyntheticCode code;
                code.rings = rings;
                code.modulesPerRing = modules;
                code.pitch = rings > 6 ? 11 : 16;
                code.centre = {320.37, 240.21};
                cv::Mat image = test::drawSyntheticCode(code);
                hideRadialZebra(image, code, black);
                const RadialZebraSearch search = makeRadialZebraSearch(image, markerOf(code), modules);

                const Found<RingGrid> grid = ringGridFromModuleEdges(search, modules);
                ASSERT_TRUE(grid) << rings << " rings, " << modules;
                EXPECT_EQ(grid->ringCount, rings) << rings << " rings, " << modules;
                EXPECT_NEAR(grid->firstRadius, code.firstRingInner() + code.pitch / 2, code.pitch / 4);
                EXPECT_NEAR(grid->lastRadius, code.outerZebraInner() - code.pitch / 2, code.pitch / 4);
            }
        }
    }
}

TEST(RingEdges, NoGridWhereTheDataShowsNoRings)
{
    test::SyntheticCode code;
    code.centre = {320.37, 240.21};
    const cv::Mat drawn = test::drawSyntheticCode(code);

    // The data area blank: nothing changes colour between the rings.
    cv::Mat blank = drawn.clone();
    cv::circle(blank, code.centre, static_cast<int>(code.outerZebraInner()), cv::Scalar(255), cv::FILLED);
    cv::circle(blank, code.centre, static_cast<int>(code.firstRingInner()), cv::Scalar(0), cv::FILLED);
    EXPECT_FALSE(ringGridFromModuleEdges(makeRadialZebraSearch(blank, markerOf(code), 32), 32));

    // A bar end far beyond the image: no rings there, and no exception.
    RadialZebraSearch far = makeRadialZebraSearch(drawn, markerOf(code), 32);
    far.maxRadius = 40000;
    EXPECT_NO_THROW(EXPECT_FALSE(ringGridFromModuleEdges(far, 32)));

    // Fine speckle instead of rings: changes everywhere, at no pitch.
    cv::Mat speckle = drawn.clone();
    cv::Mat noise(speckle.size(), CV_8UC1);
    cv::randu(noise, 0, 2);
    cv::Mat dataArea = cv::Mat::zeros(speckle.size(), CV_8UC1);
    cv::circle(dataArea, code.centre, static_cast<int>(code.outerZebraInner()), cv::Scalar(255), cv::FILLED);
    cv::circle(dataArea, code.centre, static_cast<int>(code.firstRingInner()), cv::Scalar(0), cv::FILLED);
    speckle.setTo(0, dataArea & (noise == 0));
    speckle.setTo(255, dataArea & (noise == 1));
    EXPECT_FALSE(ringGridFromModuleEdges(makeRadialZebraSearch(speckle, markerOf(code), 32), 32));
}

} // namespace
} // namespace orb
