#include "orb/drawing/code_drawer.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

// Painting happens on a finer grid and is averaged down, which anti-aliases
// every edge without blending neighbouring shapes into seams. Large images
// are painted in tiles so the fine grid stays small.
constexpr int kSupersampling = 4;
constexpr int kTileSide = 512;
constexpr int kFixedPointShift = 8;
// Largest gap between an arc and the chords that stand for it, fine pixels.
constexpr double kArcTolerance = 0.05;

// Arcs are chords between vertices on one angular grid per radius, anchored
// at the module edges. A slice and the disc it is painted on then share
// their vertices exactly; OpenCV snaps vertices to whole rows, and shapes
// with different vertices would leave hairline seams between them.
std::vector<cv::Point> shapePolygon(const CodeShape& shape, const CodePlacement& placement, int modulesPerRing,
                                    int scale)
{
    const double fixedOne = 1 << kFixedPointShift;
    // Fine pixel centres sit at (x + 0.5) * scale - 0.5 in canvas pixels.
    const cv::Point2d c((placement.centre.x + 0.5) * scale - 0.5, (placement.centre.y + 0.5) * scale - 0.5);
    const double radius = shape.radius * scale;
    const double moduleStep = kTwoPi / modulesPerRing;
    const double chordStep =
        radius > kArcTolerance ? 2.0 * std::acos(1.0 - kArcTolerance / radius) : moduleStep;
    const int perModule = std::max(1, static_cast<int>(std::ceil(moduleStep / chordStep)));
    const double step = moduleStep / perModule;
    const double anchor = placement.startAngle + moduleStep / 2;

    const bool disc = shape.isDisc();
    const long first = disc ? 0 : std::lround((shape.fromAngle - anchor) / step);
    const long last = disc ? static_cast<long>(modulesPerRing) * perModule - 1
                           : std::lround((shape.toAngle - anchor) / step);

    std::vector<cv::Point> points;
    points.reserve(static_cast<std::size_t>(last - first + 2));
    auto add = [&](double x, double y) {
        points.emplace_back(static_cast<int>(std::lround(x * fixedOne)), static_cast<int>(std::lround(y * fixedOne)));
    };
    if (!disc) add(c.x, c.y);
    for (long j = first; j <= last; ++j) {
        const double a = anchor + static_cast<double>(j) * step;
        add(c.x + radius * std::cos(a), c.y - radius * std::sin(a));
    }
    return points;
}

} // namespace

CodePlan planCode(const std::vector<std::uint8_t>& modules, int modulesPerRing, int ringCount,
                  const DrawOptions& options)
{
    CodeGeometry geometry;
    geometry.modulesPerRing = modulesPerRing;
    geometry.ringCount = ringCount;

    cv::Size canvas = options.canvas;
    if (options.hubRadius > 0)
        geometry.hubRadius = options.hubRadius;
    else if (!canvas.empty())
        geometry.hubRadius = hubRadiusFor((canvas.width + canvas.height) / 2.0, options.pitch);
    else
        geometry.hubRadius = hubRadiusForOwnImage(ringCount, options.quietZone);

    if (canvas.empty()) {
        const double reach = (geometry.outerRadius() + std::max(0.0, options.quietZone)) * options.pitch +
                             std::max(std::abs(options.centreOffset.x), std::abs(options.centreOffset.y));
        // Bounded so that absurd pitches are refused by planCode, not allocated.
        const int side = 2 * static_cast<int>(std::ceil(std::clamp(reach, 1.0, 1e6)));
        canvas = {side, side};
    }

    CodePlacement placement;
    placement.canvas = canvas;
    placement.centre = {canvas.width * 0.5 + options.centreOffset.x, canvas.height * 0.5 + options.centreOffset.y};
    placement.pitch = options.pitch;
    // The reader reports the bar angle in [0, 2pi); the plan says it the same way.
    placement.startAngle = std::isfinite(options.startAngle)
                               ? options.startAngle - kTwoPi * std::floor(options.startAngle / kTwoPi)
                               : options.startAngle;
    return planCode(geometry, placement, modules, options.codeType == Color ? 3 : 1);
}

cv::Mat renderCode(const CodePlan& plan)
{
    const cv::Size canvas = plan.placement.canvas;
    const int scale = kSupersampling;
    std::vector<std::vector<cv::Point>> polygons;
    polygons.reserve(plan.shapes.size());
    for (const CodeShape& shape : plan.shapes)
        polygons.push_back(shapePolygon(shape, plan.placement, plan.geometry.modulesPerRing, scale));

    cv::Mat image(canvas, CV_8UC3);
    cv::Mat fine;
    for (int y = 0; y < canvas.height; y += kTileSide)
        for (int x = 0; x < canvas.width; x += kTileSide) {
            const cv::Rect tile(x, y, std::min(kTileSide, canvas.width - x), std::min(kTileSide, canvas.height - y));
            fine.create(tile.size() * scale, CV_8UC3);
            fine.setTo(cv::Scalar(255, 255, 255));
            const cv::Point origin(tile.x * scale << kFixedPointShift, tile.y * scale << kFixedPointShift);
            for (std::size_t i = 0; i < plan.shapes.size(); ++i) {
                const CodeShape& shape = plan.shapes[i];
                // Shapes that miss the tile cost nothing to skip.
                const cv::Point2d c = plan.placement.centre;
                if (c.x + shape.radius < tile.x - 1 || c.x - shape.radius > tile.br().x + 1 ||
                    c.y + shape.radius < tile.y - 1 || c.y - shape.radius > tile.br().y + 1)
                    continue;
                cv::fillPoly(fine, std::vector<std::vector<cv::Point>>{polygons[i]}, shape.colour, cv::LINE_8,
                             kFixedPointShift, -origin);
            }
            cv::resize(fine, image(tile), tile.size(), 0, 0, cv::INTER_AREA);
        }
    return image;
}

DrawnCode drawCode(const std::vector<std::uint8_t>& modules, int modulesPerRing, int ringCount,
                   const DrawOptions& options)
{
    CodePlan plan = planCode(modules, modulesPerRing, ringCount, options);
    cv::Mat image = renderCode(plan);
    return {std::move(image), std::move(plan)};
}

} // namespace orb
