#include "orb/detection/radial_zebra.h"

#include <gtest/gtest.h>

#include "orb/detection/start_marker.h"
#include "synthetic_code.h"

namespace orb {
namespace {

// Concentric rings around the image centre (200, 200): radius bounds
// alternately start a black and a white stretch, beginning with black.
cv::Mat rings(const std::vector<double>& bounds)
{
    cv::Mat image(400, 400, CV_8UC1, cv::Scalar(255));
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const double rho = std::hypot(x - 200.0, y - 200.0);
            int crossed = 0;
            for (double b : bounds) crossed += rho >= b;
            if (crossed % 2 == 1) image.at<std::uint8_t>(y, x) = 0;
        }
    }
    return image;
}

RadialZebraSearch searchOn(const cv::Mat& image, const StartMarker& marker, int minRadius, int maxRadius)
{
    RadialZebraSearch search;
    search.image = image;
    search.startMarker = marker;
    search.minRadius = minRadius;
    search.maxRadius = maxRadius;
    search.step = 2 * kTwoPi / 32;
    return search;
}

TEST(RadialZebra, RingCountAndRadiiOfDrawnCodes)
{
    for (int ringCount : {2, 3, 6, 10}) {
        for (int modules : {16, 32, 64}) {
            test::SyntheticCode code;
            code.rings = ringCount;
            code.modulesPerRing = modules;
            code.pitch = ringCount > 6 ? 10 : 16;
            code.centre = {320.37, 240.21};
            const cv::Mat image = test::drawSyntheticCode(code);
            std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, code.hub + 5, modules, false);
            ASSERT_FALSE(candidates.empty());
            // With few rings a data column can look like the bar; take the real one.
            std::sort(candidates.begin(), candidates.end(), [&](const auto& a, const auto& b) {
                return std::abs(a.marker.angle - code.startAngle) < std::abs(b.marker.angle - code.startAngle);
            });
            const StartMarker marker = candidates.front().marker;
            const RadialZebraSearch search = makeRadialZebraSearch(image, marker, modules);
            const RingGrid grid = findRadialZebra(search, marker.angle - search.step);
            EXPECT_EQ(grid.ringCount, ringCount) << ringCount << " rings, " << modules;
            EXPECT_NEAR(grid.firstRadius, code.firstRingInner() + code.pitch / 2, code.pitch / 4);
            EXPECT_NEAR(grid.lastRadius, code.outerZebraInner() - code.pitch / 2, code.pitch / 4);
        }
    }
}

TEST(RadialZebra, LastWhiteRunCountsAsTwoModulesWhenLong)
{
    // Black 40-50, white 50-60, black 60-70, then white to the border.
    const cv::Mat image = rings({40, 50, 60, 70});
    StartMarker marker;
    const RadialZebraSearch search = searchOn(image, marker, 40, 82);
    // 12 white pixels to maxRadius: two modules of 6; sizes 10,10,10,6,6.
    const RingGrid grid = findRadialZebra(search, 0);
    EXPECT_EQ(grid.ringCount, 4);
    EXPECT_NEAR(grid.firstRadius, 40 + 8.4 / 2, 1e-9);
    EXPECT_NEAR(grid.lastRadius, 82 - 1.5 * 8.4, 1e-9);

    // 5 white pixels are merged into the module before: sizes 10,10,15.
    const RingGrid merged = findRadialZebra(searchOn(image, marker, 40, 75), 0);
    EXPECT_NEAR(merged.lastRadius, 75 - 1.5 * 35 / 3.0, 1e-9);
    EXPECT_EQ(merged.ringCount, 2);
}

TEST(RadialZebra, OnePixelRunLengthensTheModuleBefore)
{
    // A one-pixel white crack at 49 ends the first black module: sizes
    // 9+1, 10, 10, 10, then the last white run of 12 as 6 and 6.
    const cv::Mat image = rings({40, 49, 50, 60, 70, 80});
    StartMarker marker;
    const RingGrid grid = findRadialZebra(searchOn(image, marker, 40, 92), 0);
    const double mean = 52.0 / 6;
    EXPECT_NEAR(grid.firstRadius, 40 + mean / 2, 1e-9);
    EXPECT_NEAR(grid.lastRadius, 92 - 1.5 * mean, 1e-9);
    EXPECT_EQ(grid.ringCount, 5);
}

TEST(RadialZebra, TwoModulesCloseTogetherMakeOneRing)
{
    // A black cut of 3 pixels at the start, then white 43-53 and black 53-63:
    // two sizes of 10 whose ring radii are less than half a module apart.
    const cv::Mat image = rings({40, 43, 53, 63});
    StartMarker marker;
    const RingGrid grid = findRadialZebra(searchOn(image, marker, 40, 63), 0);
    EXPECT_EQ(grid.ringCount, 1);
    EXPECT_NEAR(grid.firstRadius, 46.5, 1e-9);
    EXPECT_NEAR(grid.lastRadius, 48, 1e-9);
    // A start at or beyond maxRadius finds nothing.
    EXPECT_LE(findRadialZebra(searchOn(image, marker, 70, 66), 0).ringCount, 0);
}

TEST(RadialZebra, NoZebraBesideTheBarIsReported)
{
    const cv::Mat blank(400, 400, CV_8UC1, cv::Scalar(255));
    StartMarker marker;
    marker.angle = 1;
    EXPECT_EQ(detectRadialZebra(searchOn(blank, marker, 40, 150)).code, RadialZebraNotDetected);
}

} // namespace
} // namespace orb
