#pragma once
// Reads a drawn code back the way grid reading does: the same centres, the
// same reach of its random samples and the same colour rule, so a drawing
// that passes here reads back in the decoder.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/drawing/code_drawer.h"
#include "orb/payload/module_geometry.h"

namespace drawing_test {

inline cv::Point pixelAt(const cv::Point2d& centre, double radius, double angle)
{
    return {static_cast<int>(std::lround(centre.x + radius * std::cos(angle))),
            static_cast<int>(std::lround(centre.y - radius * std::sin(angle)))};
}

// Value of a module from the channel sums of `count` pixels, as the reader
// classifies them.
inline int classify(const cv::Vec3i& sums, int count, bool colour)
{
    const int threshold = count * 255 / 2;
    const bool blue = sums[0] > threshold, green = sums[1] > threshold, red = sums[2] > threshold;
    const int lit = blue + green + red;
    if (!colour) return lit <= 1 ? 1 : 0;
    if (lit == 3) return 0;
    if (lit == 0) return 1;
    if (lit == 2) return !red ? 5 : !green ? 6 : 7;
    return red ? 2 : green ? 3 : 4;
}

inline cv::Vec3b idealColour(int value)
{
    const cv::Scalar c = orb::moduleColour(static_cast<std::uint8_t>(value));
    return {static_cast<uchar>(c[0]), static_cast<uchar>(c[1]), static_cast<uchar>(c[2])};
}

struct ModuleCheck {
    int wrongModules = 0;       // read back as another value
    int worstInterior = 0;      // largest channel distance from the ideal colour, pixels at least 1 px inside a module
    double worstAverage = 0;    // largest channel distance of the average over a module's reachable pixels
    std::string firstWrong;     // where the first wrong module is
};

// Samples every data module of `image` at the reader's centre (its fixed
// five-pixel cross) and over every pixel its random samples can reach, and
// compares with `modules`. The reach comes within a pixel or so of the ring
// edges, so single pixels there may be grey; the average over the reach
// decides like the reader's sum does, and pixels well inside a module must
// be pure.
inline ModuleCheck checkModules(const cv::Mat& image, const orb::CodePlan& plan,
                                const std::vector<std::uint8_t>& modules, bool colour)
{
    const int m = plan.geometry.modulesPerRing;
    const int r = plan.geometry.ringCount;
    const int n = orb::dataModulesPerRing(m);
    const orb::RingGrid grid = plan.ringGrid();
    const double pitch = std::max(5.0, (grid.lastRadius - grid.firstRadius) / (grid.ringCount - 1));
    const double alpha = orb::kTwoPi / m;
    const int hr = static_cast<int>(pitch) - 4;
    const cv::Point2d c = plan.placement.centre;

    ModuleCheck check;
    for (int ring = r - 1; ring >= 0; --ring) {
        const double rho = orb::ringRadius(grid.firstRadius, pitch, ring);
        const int ht = std::max(0, static_cast<int>((rho - 0.5 * pitch) * alpha) - 4);
        const int row = orb::gridRow(ring, r);
        for (int column = 0; column < n; ++column) {
            const double theta = orb::moduleAngle(plan.placement.startAngle, column + orb::kFirstDataPosition, m);
            const cv::Point p = pixelAt(c, rho, theta);
            const int expected = modules[static_cast<std::size_t>(row) * n + column];
            const cv::Vec3b ideal = idealColour(expected);

            cv::Vec3i cross(0, 0, 0);
            for (const cv::Point d : {cv::Point(0, 0), cv::Point(0, 1), cv::Point(1, 0), cv::Point(0, -1),
                                      cv::Point(-1, 0)}) {
                const cv::Vec3b px = image.at<cv::Vec3b>(p + d);
                cross += cv::Vec3i(px[0], px[1], px[2]);
            }
            bool wrong = classify(cross, 5, colour) != expected;

            cv::Vec3i reach(0, 0, 0);
            int count = 0;
            for (int dr = -(hr / 2); dr <= hr - hr / 2; ++dr)
                for (int dt = -(ht / 2); dt <= ht - ht / 2; ++dt) {
                    const int ox = static_cast<int>(std::lround(dr * std::cos(theta) - dt * std::sin(theta)));
                    const int oy = static_cast<int>(std::lround(dr * std::sin(theta) + dt * std::cos(theta)));
                    const cv::Point q(p.x + ox, p.y - oy);
                    const cv::Vec3b px = image.at<cv::Vec3b>(q);
                    reach += cv::Vec3i(px[0], px[1], px[2]);
                    ++count;
                    // Distance of the pixel centre from the module's edges.
                    const double qx = q.x - c.x, qy = c.y - q.y;
                    const double qr = std::hypot(qx, qy);
                    const double off = std::remainder(std::atan2(qy, qx) - theta, orb::kTwoPi);
                    const double inside = std::min({qr - (rho - pitch / 2), rho + pitch / 2 - qr,
                                                    qr * std::sin(alpha / 2 - std::abs(off))});
                    if (inside >= 1.0)
                        for (int ch = 0; ch < 3; ++ch)
                            check.worstInterior = std::max(check.worstInterior, std::abs(px[ch] - ideal[ch]));
                }
            if (classify(reach, count, colour) != expected) wrong = true;
            for (int ch = 0; ch < 3; ++ch)
                check.worstAverage = std::max(check.worstAverage, std::abs(reach[ch] / double(count) - ideal[ch]));
            if (wrong) {
                if (check.wrongModules == 0)
                    check.firstWrong = "ring " + std::to_string(ring) + " column " + std::to_string(column);
                ++check.wrongModules;
            }
        }
    }
    return check;
}

// A code whose data modules are all light, so its data rings form one light
// annular sector from position 3 to M-3.
inline orb::DrawnCode drawLightCode(int modulesPerRing, double pitch)
{
    const int rings = 7;
    orb::DrawOptions options;
    options.pitch = pitch;
    options.startAngle = 0.5;
    options.centreOffset = {0.37, 0.21};
    return orb::drawCode(std::vector<std::uint8_t>(rings * orb::dataModulesPerRing(modulesPerRing), 0),
                         modulesPerRing, rings, options);
}

struct SeamCount {
    int inside = 0; // pixels at least 1 px inside the light sector
    int dark = 0;   // of those, pixels not white
};

inline SeamCount countSeams(const cv::Mat& image, const orb::CodePlan& plan)
{
    const orb::CodeGeometry& g = plan.geometry;
    const int m = g.modulesPerRing;
    const double p = plan.placement.pitch;
    const cv::Point2d c = plan.placement.centre;
    const double e = orb::kTwoPi / m;
    const double from = orb::moduleAngle(plan.placement.startAngle, m - 3, m) - e / 2;
    const double to = orb::moduleAngle(plan.placement.startAngle, orb::kFirstDataPosition, m) + e / 2;
    SeamCount count;
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const double dx = x - c.x, dy = c.y - y;
            const double rho = std::hypot(dx, dy);
            double a = std::atan2(dy, dx);
            while (a < from) a += orb::kTwoPi;
            if (rho < g.dataInnerRadius() * p + 1 || rho > g.outerZebraInnerRadius() * p - 1 || a > to ||
                rho * std::sin(std::min(a - from, to - a)) < 1)
                continue;
            ++count.inside;
            const cv::Vec3b px = image.at<cv::Vec3b>(y, x);
            if (px[0] < 250 || px[1] < 250 || px[2] < 250) ++count.dark;
        }
    return count;
}

} // namespace drawing_test
