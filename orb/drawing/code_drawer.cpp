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

// Arcs are chords between vertices on one angular grid, anchored at the
// module edges. Neighbouring shapes then share their vertices exactly;
// OpenCV snaps vertices to whole rows, and shapes with different vertices
// would leave hairline seams between them.
class ArcGrid {
public:
    ArcGrid(const CodePlacement& placement, int modulesPerRing, int scale)
        : scale_(scale), moduleStep_(kTwoPi / modulesPerRing), modulesPerRing_(modulesPerRing),
          anchor_(placement.startAngle + moduleStep_ / 2),
          // Fine pixel centres sit at (x + 0.5) * scale - 0.5 in canvas pixels.
          centre_((placement.centre.x + 0.5) * scale - 0.5, (placement.centre.y + 0.5) * scale - 0.5)
    {
    }

    std::vector<cv::Point> polygon(const CodeShape& shape) const
    {
        std::vector<cv::Point> points;
        if (shape.isDisc()) {
            addArc(points, shape.outerRadius, 0, static_cast<long>(modulesPerRing_) * stepsPerModule(shape.outerRadius) - 1);
            return points;
        }
        addArc(points, shape.outerRadius, shape.fromAngle, shape.toAngle);
        if (shape.innerRadius > 0)
            addArc(points, shape.innerRadius, shape.toAngle, shape.fromAngle);
        else
            add(points, centre_.x, centre_.y);
        return points;
    }

private:
    int stepsPerModule(double radius) const
    {
        const double r = radius * scale_;
        const double chordStep = r > kArcTolerance ? 2.0 * std::acos(1.0 - kArcTolerance / r) : moduleStep_;
        return std::max(1, static_cast<int>(std::ceil(moduleStep_ / chordStep)));
    }

    // Vertices from angle `from` to angle `to` (either direction).
    void addArc(std::vector<cv::Point>& points, double radius, double from, double to) const
    {
        const double step = moduleStep_ / stepsPerModule(radius);
        addArc(points, radius, std::lround((from - anchor_) / step), std::lround((to - anchor_) / step));
    }

    void addArc(std::vector<cv::Point>& points, double radius, long first, long last) const
    {
        const double step = moduleStep_ / stepsPerModule(radius);
        const double r = radius * scale_;
        const long direction = last >= first ? 1 : -1;
        for (long j = first;; j += direction) {
            const double a = anchor_ + static_cast<double>(j) * step;
            add(points, centre_.x + r * std::cos(a), centre_.y - r * std::sin(a));
            if (j == last) break;
        }
    }

    static void add(std::vector<cv::Point>& points, double x, double y)
    {
        const double fixedOne = 1 << kFixedPointShift;
        points.emplace_back(static_cast<int>(std::lround(x * fixedOne)), static_cast<int>(std::lround(y * fixedOne)));
    }

    int scale_;
    double moduleStep_;
    int modulesPerRing_;
    double anchor_;
    cv::Point2d centre_;
};

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
        // Bounded so that absurd or undefined pitches are refused by planCode,
        // not allocated or converted.
        const double bounded = std::isfinite(reach) ? std::clamp(reach, 1.0, 1e6) : 1.0;
        const int side = 2 * static_cast<int>(std::ceil(bounded));
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
    const ArcGrid grid(plan.placement, plan.geometry.modulesPerRing, scale);
    struct Polygon {
        std::vector<cv::Point> points;
        double reach; // outer radius, pixels
        cv::Scalar colour;
    };
    std::vector<Polygon> polygons;
    for (const CodeLayer& layer : plan.layers)
        for (const CodeShape& shape : layer.shapes)
            polygons.push_back({grid.polygon(shape), shape.outerRadius, layer.colour});

    cv::Mat image(canvas, CV_8UC3);
    cv::Mat fine;
    const cv::Point2d c = plan.placement.centre;
    for (int y = 0; y < canvas.height; y += kTileSide)
        for (int x = 0; x < canvas.width; x += kTileSide) {
            const cv::Rect tile(x, y, std::min(kTileSide, canvas.width - x), std::min(kTileSide, canvas.height - y));
            fine.create(tile.size() * scale, CV_8UC3);
            fine.setTo(cv::Scalar(255, 255, 255));
            const cv::Point origin(tile.x * scale << kFixedPointShift, tile.y * scale << kFixedPointShift);
            for (const Polygon& p : polygons) {
                // Shapes that miss the tile cost nothing to skip.
                if (c.x + p.reach < tile.x - 1 || c.x - p.reach > tile.br().x + 1 || c.y + p.reach < tile.y - 1 ||
                    c.y - p.reach > tile.br().y + 1)
                    continue;
                cv::fillPoly(fine, std::vector<std::vector<cv::Point>>{p.points}, p.colour, cv::LINE_8,
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
