#include "orb/detection/radial_zebra.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include "orb/detection/ray_walk.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

struct RaySizes {
    std::vector<int> sizes;
    int firstModuleOffset = 0;
};

// Module lengths along one ray, from the first whole module out to maxRadius.
RaySizes measureRay(const RadialZebraSearch& search, double angle)
{
    const cv::Mat& image = search.image;
    const cv::Point2d centre = imageCentre(image);
    const cv::Point2d direction = rayDirection(angle);
    const cv::Point2d origin = centre + search.minRadius * direction;

    cv::Point2d blackEnd = origin;
    int black = countBlackRun(blackEnd, direction, image, true);
    if (black < 2) black = countBlackRun(blackEnd, direction, image, true);
    cv::Point2d whiteEnd = origin;
    int white = countWhiteRun(whiteEnd, direction, image, true);
    if (white < 2) white = countWhiteRun(whiteEnd, direction, image, true);

    // A short first run is a cut module: start behind it.
    RaySizes ray;
    bool whiteFirst = false;
    cv::Point2d point = origin;
    if (cv::norm(blackEnd - centre) > cv::norm(whiteEnd - centre)) {
        whiteFirst = white > black / 3;
        if (!whiteFirst) {
            ray.firstModuleOffset = white;
            point = whiteEnd;
        }
    } else {
        whiteFirst = black <= white / 3;
        if (whiteFirst) {
            ray.firstModuleOffset = black;
            point = blackEnd;
        }
    }
    logger().line(LogLevel::Trace, "first module is white: ", whiteFirst ? 1 : 0);
    logger().line(LogLevel::Trace, "firstModuleOffset: ", ray.firstModuleOffset);
    logger().line(LogLevel::Trace, "blackPixels: ", black);
    logger().line(LogLevel::Trace, "whitePixels: ", white);

    double radius = cv::norm(point - centre);
    if (radius >= search.maxRadius) return ray;
    std::vector<int>& sizes = ray.sizes;
    bool onWhite = whiteFirst;
    bool lastWasWhite = whiteFirst;
    for (;;) {
        const int n = onWhite ? countWhiteRun(point, direction, image, true) : countBlackRun(point, direction, image, true);
        // A one-pixel run is no module; it belongs to the module before.
        if (n > 1) sizes.push_back(n);
        else if (!sizes.empty()) ++sizes.back();
        radius += n;
        lastWasWhite = onWhite;
        onWhite = !onWhite;
        if (n == 0 || radius >= search.maxRadius) break;
    }
    if (sizes.empty()) return ray;
    sizes.back() -= static_cast<int>(radius - search.maxRadius);
    if (lastWasWhite) {
        // The last white run reaches into the quiet zone: it stands for the
        // outermost white module and the gap to the outer zebra.
        if (sizes.back() > 5) {
            sizes.back() /= 2;
            sizes.push_back(sizes.back());
        } else if (sizes.size() >= 2) {
            const int last = sizes.back();
            sizes.pop_back();
            sizes.back() += last;
        }
    }
    return ray;
}

} // namespace

int probeInnerEdge(const RadialZebraSearch& search, double offset, int startRadius)
{
    const cv::Point2d centre = imageCentre(search.image);
    std::array<double, 3> distances{};
    for (int i = -1; i <= 1; ++i) {
        const double angle = search.startMarker.angle + offset + 0.25 * offset * i;
        const cv::Point2d direction = rayDirection(angle);
        cv::Point2d point = centre + startRadius * direction;
        countBlackRun(point, direction, search.image, true);
        distances[i + 1] = cv::norm(point - centre);
    }
    std::sort(distances.begin(), distances.end());
    return static_cast<int>(std::ceil(distances[1]));
}

RadialZebraSearch makeRadialZebraSearch(const cv::Mat& image, const StartMarker& startMarker, int modulesPerRing)
{
    RadialZebraSearch search;
    search.image = image;
    search.startMarker = startMarker;
    search.step = modulesPerRing > 0 ? 2 * kTwoPi / modulesPerRing : 0;
    const cv::Point2d centre = imageCentre(image);
    search.maxRadius = static_cast<std::int32_t>(std::lround(cv::norm(startMarker.barEnd - centre)));
    const int start = static_cast<int>(std::lround(cv::norm(startMarker.rayStart - centre))) * 9 / 10;
    search.minRadius = std::max(probeInnerEdge(search, search.step / 2, start), probeInnerEdge(search, -search.step / 2, start));
    return search;
}

RingGrid findRadialZebra(const RadialZebraSearch& search, double angle)
{
    const double c = search.step * 0.125;
    const int spread = ((search.maxRadius - search.minRadius) / 3 + 5) / 2;
    const double maxVar = static_cast<double>(spread * spread);
    double bestVar = std::numeric_limits<double>::max();
    int bestOffset = 0;
    int bestCount = 0;
    double bestMean = 0;

    // Three rays a quarter module apart; the most even one is the zebra.
    for (int h = -1; h <= 1; ++h) {
        const RaySizes ray = measureRay(search, angle + h * c);
        const std::vector<int>& sizes = ray.sizes;
        if (sizes.size() < 2) continue;
        const double n = static_cast<double>(sizes.size());
        double sum = 0;
        for (int s : sizes) sum += s;
        const double mean = sum / n;
        double squares = 0;
        for (int s : sizes) squares += (s - mean) * (s - mean);
        const double var = squares / n;
        if (logger().accepts(LogLevel::Trace)) {
            logger().line(LogLevel::Trace, "Radial Zebra var < maxVar : ", var, " < ", maxVar);
            logger().line(LogLevel::Trace, "Radial Zebra minRadius, maxRadius: ", search.minRadius, ", ",
                          search.maxRadius);
            std::ostringstream list;
            for (int s : sizes) list << s << ',';
            logger().line(LogLevel::Trace, "Radial Zebra module sizes: [", list.str(), "]");
        }
        if (var < bestVar) {
            bestOffset = ray.firstModuleOffset;
            bestCount = static_cast<int>(sizes.size()) - 1;
            bestVar = var;
            bestMean = mean;
        }
    }

    RingGrid grid;
    if (!(maxVar > bestVar)) return grid;
    grid.firstRadius = (bestOffset + bestMean) * 0.5 + search.minRadius;
    grid.lastRadius = search.maxRadius - 1.5 * bestMean;
    if (grid.lastRadius > grid.firstRadius) {
        const int spanned = static_cast<int>(std::lround((grid.lastRadius - grid.firstRadius) / bestMean)) + 1;
        grid.ringCount = std::max(bestCount, spanned);
    }
    return grid;
}

bool radialZebraOnBothSides(const RadialZebraSearch& search)
{
    const RingGrid right = findRadialZebra(search, search.startMarker.angle - search.step);
    const RingGrid left = findRadialZebra(search, search.startMarker.angle + search.step);
    return right.ringCount > 0 && left.ringCount > 0 && right.ringCount == left.ringCount;
}

Found<RingGrid> detectRadialZebra(const RadialZebraSearch& search)
{
    logger().line(LogLevel::Debug, "       findRadialZebra");
    const RingGrid grid = findRadialZebra(search, search.startMarker.angle - search.step);
    if (grid.ringCount <= 0) {
        logger().line(LogLevel::Trace, "no Radial Zebra found on the right of the start marker");
        return {RadialZebraNotDetected, {}};
    }
    logger().line(LogLevel::Trace, "ring grid: ", grid.ringCount, " rings, radii ", grid.firstRadius, " to ",
                  grid.lastRadius);
    return {Success, grid};
}

} // namespace orb
