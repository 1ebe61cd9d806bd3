#include "orb/detection/ring_edges.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

// Rays per module; only those near a module's middle count, since a ray
// along the edge between two modules changes colour anywhere.
constexpr int kRaysPerModule = 8;
constexpr double kMiddleShare = 0.3;
// A boundary is borne out by the colour changes within a quarter pitch.
constexpr double kReach = 0.25;
// Every boundary needs this share of the mean support: a count that puts a
// boundary in the middle of rings has next to none there.
constexpr double kLeastSupport = 0.3;
// And the boundaries together must explain this share of all changes.
constexpr double kLeastCoverage = 0.8;
// A pitch below this many pixels is not read.
constexpr double kLeastPitch = 3;

// Colour changes per radius (pixels from the centre), summed over the rays
// through the middles of the data positions.
std::vector<double> changesByRadius(const RadialZebraSearch& search, int modulesPerRing, int outer)
{
    const int rays = kRaysPerModule * modulesPerRing;
    // Beyond the image the polar image is filled, or it would hold whatever
    // the memory held: filled with 0 in the swapped image, the paper's
    // white. Changes do not care which colour is which.
    cv::Mat swapped, polar;
    cv::bitwise_not(search.image, swapped);
    cv::warpPolar(swapped, polar, cv::Size(outer, rays), imageCentre(search.image), outer,
                  static_cast<int>(cv::INTER_NEAREST) | static_cast<int>(cv::WARP_POLAR_LINEAR) |
                      static_cast<int>(cv::WARP_FILL_OUTLIERS));
    cv::Mat changes;
    cv::compare(polar.colRange(0, outer - 1), polar.colRange(1, outer), changes, cv::CMP_NE);
    changes.convertTo(changes, CV_32F, 1.0 / 255);

    const double e = kTwoPi / modulesPerRing;
    cv::Mat kept = cv::Mat::zeros(1, rays, CV_32F);
    for (int row = 0; row < rays; ++row) {
        // The polar image turns with y down: its angle runs clockwise.
        const double angle = kTwoPi - kTwoPi * row / rays;
        const double turns = (search.startMarker.angle - angle) / e;
        const double nearest = std::round(turns);
        const int position = ((static_cast<int>(nearest) % modulesPerRing) + modulesPerRing) % modulesPerRing;
        if (std::abs(turns - nearest) <= kMiddleShare && position >= 2 && position <= modulesPerRing - 3)
            kept.at<float>(row) = 1;
    }
    cv::Mat sums = kept * changes;
    return std::vector<double>(sums.begin<float>(), sums.end<float>());
}

double supportNear(const std::vector<double>& changes, double radius, double reach)
{
    const int from = std::max(0, static_cast<int>(std::ceil(radius - reach - 0.5)));
    const int to = std::min(static_cast<int>(changes.size()) - 1, static_cast<int>(std::floor(radius + reach - 0.5)));
    double sum = 0;
    for (int r = from; r <= to; ++r) sum += changes[r];
    return sum;
}

// The mean radius of the changes near `radius`, a change between columns r
// and r + 1 counting at r + 0.5.
double centreNear(const std::vector<double>& changes, double radius, double reach)
{
    const int from = std::max(0, static_cast<int>(std::ceil(radius - reach - 0.5)));
    const int to = std::min(static_cast<int>(changes.size()) - 1, static_cast<int>(std::floor(radius + reach - 0.5)));
    double sum = 0, weighted = 0;
    for (int r = from; r <= to; ++r) {
        sum += changes[r];
        weighted += changes[r] * (r + 0.5);
    }
    return sum > 0 ? weighted / sum : radius;
}

} // namespace

Found<RingGrid> ringGridFromModuleEdges(const RadialZebraSearch& search, int modulesPerRing)
{
    logger().line(LogLevel::Debug, "       ringGridFromModuleEdges");
    const double inner = search.minRadius;
    const double span = search.maxRadius - inner;
    const int outer = search.maxRadius + 2;
    if (modulesPerRing < 8 || span < 3 * kLeastPitch || search.image.empty()) return {RadialZebraNotDetected, {}};
    // Rings reaching past the image's corners have no pixels to show them.
    if (outer > std::hypot(search.image.cols, search.image.rows)) return {RadialZebraNotDetected, {}};
    const std::vector<double> changes = changesByRadius(search, modulesPerRing, outer);

    // Changes strictly between the inner edge and the outer edge.
    const double total = supportNear(changes, (inner + search.maxRadius) / 2, span / 2 - 2);
    if (total <= 0) return {RadialZebraNotDetected, {}};

    int bestRings = 0;
    double bestCoverage = kLeastCoverage;
    for (int rings = 2; span / (rings + 1) >= kLeastPitch; ++rings) {
        const double pitch = span / (rings + 1);
        std::vector<double> support;
        for (int k = 1; k <= rings; ++k) support.push_back(supportNear(changes, inner + k * pitch, kReach * pitch));
        double sum = 0;
        for (double s : support) sum += s;
        const double least = *std::min_element(support.begin(), support.end());
        if (least < kLeastSupport * sum / rings) continue;
        const double coverage = sum / total;
        if (coverage > bestCoverage) {
            bestCoverage = coverage;
            bestRings = rings;
        }
    }
    if (bestRings == 0) return {RadialZebraNotDetected, {}};

    // The boundaries as measured, fitted by a straight line in their index:
    // the inner edge and the pitch.
    const double pitch = span / (bestRings + 1);
    double sw = 0, sk = 0, sr = 0, skk = 0, skr = 0;
    for (int k = 1; k <= bestRings; ++k) {
        const double expected = inner + k * pitch;
        const double w = supportNear(changes, expected, kReach * pitch);
        const double r = centreNear(changes, expected, kReach * pitch);
        sw += w;
        sk += w * k;
        sr += w * r;
        skk += w * k * k;
        skr += w * k * r;
    }
    const double det = sw * skk - sk * sk;
    double fittedPitch = pitch;
    double fittedInner = inner;
    if (det > 0) {
        fittedPitch = (sw * skr - sk * sr) / det;
        fittedInner = (sr - fittedPitch * sk) / sw;
    }
    if (!(std::abs(fittedPitch - pitch) < kReach * pitch)) {
        fittedPitch = pitch;
        fittedInner = inner;
    }

    RingGrid grid;
    grid.ringCount = bestRings;
    grid.firstRadius = fittedInner + fittedPitch / 2;
    grid.lastRadius = fittedInner + (bestRings - 0.5) * fittedPitch;
    logger().line(LogLevel::Trace, "ring grid from module edges: ", grid.ringCount, " rings, radii ",
                  grid.firstRadius, " to ", grid.lastRadius, ", coverage ", bestCoverage);
    return {Success, grid};
}

} // namespace orb
