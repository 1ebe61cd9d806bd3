#include "orb/detection/start_marker.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "orb/detection/angular_edge.h"
#include "orb/detection/ray_walk.h"
#include "orb/detection/tolerance.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

constexpr double kFraction = 0.8;
// Plausibility (checks passed, of 11) a candidate needs: any, a strict
// search, and a later candidate that is still worth trying.
constexpr int kMinPlausibility = 2;
constexpr int kStrictPlausibility = 9;
constexpr int kNearlyPerfect = 10;
// The scan starts this far (pixels) outside the inner circle, clear of its rim.
constexpr double kClearOfHub = 5;
// A bar's measured width may differ from a module's by this share.
constexpr double kBarWidthTolerance = 0.3;
// A bar's run may differ from the longest run by this share and still be it.
constexpr double kBarLengthTolerance = 0.05;
// Pixels of slack in the side-corridor checks: a neighbour's black run may
// exceed the shortest run by kCorridorSlack plus the sides' difference, which
// counts as at least kMinSideDifference.
constexpr int kCorridorSlack = 10;
constexpr int kMinSideDifference = 5;

struct ScanEntry {
    int run;
    double angle;
};

int blackRunAt(const cv::Mat& image, const cv::Point2d& centre, double r, double angle)
{
    const cv::Point2d direction = rayDirection(angle);
    cv::Point2d point = centre + r * direction;
    return countBlackRun(point, direction, image, true);
}

// Black run and the white run behind it on the ray at `angle`, and where the
// white run ended.
struct SideProbe {
    int black = 0;
    int white = 0;
    double radius = 0;
};

SideProbe probeSide(const cv::Mat& image, const cv::Point2d& centre, double r, double angle)
{
    const cv::Point2d direction = rayDirection(angle);
    SideProbe probe;
    cv::Point2d point = centre + r * direction;
    probe.black = countBlackRun(point, direction, image, true);
    if (probe.black > 0) point += 2 * direction;
    else point = centre + r * direction;
    probe.white = countWhiteRun(point, direction, image, true);
    probe.radius = cv::norm(point - centre);
    return probe;
}

// Local maxima of the black run length around the circle, one per bar.
std::vector<ScanEntry> scanLongRuns(const cv::Mat& image, const cv::Point2d& centre, double r, double moduleAngle,
                                    int& longest, int& shortest)
{
    std::vector<ScanEntry> entries;
    longest = 0;
    shortest = std::numeric_limits<int>::max();
    for (double angle = 0; angle < kTwoPi; angle += kDegree) {
        const int run = blackRunAt(image, centre, r, angle);
        bool accepted = false;
        // A single ray on a speck is no bar: a neighbour must agree. A ray
        // without any black is never a bar, not even while none was seen.
        if (run > 0 && run >= kFraction * longest) {
            const int before = blackRunAt(image, centre, r, angle - kDegree);
            accepted = before >= kFraction * run;
            if (!accepted) accepted = blackRunAt(image, centre, r, angle + kDegree) >= kFraction * run;
        }
        if (accepted) {
            bool kept = true;
            if (entries.empty()) {
                entries.push_back({run, angle});
            } else if (kFraction * run > longest) {
                entries.clear();
                entries.push_back({run, angle});
            } else if (angle > entries.back().angle + 2 * moduleAngle) {
                entries.push_back({run, angle});
            } else if (run > entries.back().run) {
                entries.back() = {run, angle};
            } else {
                kept = false;
            }
            if (kept) longest = std::max(longest, run);
        }
        shortest = std::min(shortest, run);
    }
    return entries;
}

} // namespace

double findBarEdge(double startAngle, double step, const cv::Mat& image, const cv::Point2d& centre, double r,
                   int expectedRun, double fraction)
{
    return findAngularEdge(startAngle, step, [&](double angle) {
        const cv::Point2d direction = rayDirection(angle);
        cv::Point2d point = centre + r * direction;
        int run = countBlackRun(point, direction, image, true);
        if (run < expectedRun * fraction) {
            // A short white gap inside a long bar does not end the bar.
            const int white = countWhiteRun(point, direction, image, false);
            if (run + white < expectedRun && countBlackRun(point, direction, image, false) != 0 &&
                ((expectedRun - white) + run) * 0.125 > white) {
                run += expectedRun;
            }
        }
        return run >= expectedRun * fraction;
    });
}

std::vector<StartMarkerCandidate> findStartMarkers(const cv::Mat& image, double r, int modulesPerRing, bool strict)
{
    logger().line(LogLevel::Debug, "    findStartMarkers");
    std::vector<StartMarkerCandidate> candidates;
    if (modulesPerRing <= 0) return candidates;
    const cv::Point2d centre = imageCentre(image);
    const double e = kTwoPi / modulesPerRing;
    int longest = 0;
    int shortest = 0;
    const std::vector<ScanEntry> entries = scanLongRuns(image, centre, r, e, longest, shortest);

    for (const ScanEntry& entry : entries) {
        const int K = entry.run;
        const double u = findBarEdge(entry.angle, kDegree, image, centre, r, K, kFraction);
        const double v = findBarEdge(entry.angle, -kDegree, image, centre, r, K, kFraction);
        const double width = u - v;
        int p = within(width, e, kBarWidthTolerance) ? 1 : 0;
        double mid = (u + v) / 2;
        if (mid < 0) mid += kTwoPi;

        StartMarkerCandidate candidate;
        candidate.marker.angle = mid;
        const bool repeated = !candidates.empty() && std::abs(candidates.back().marker.angle - mid) <= 2 * e;
        if (!repeated) {
            // The corridors beside the bar are white beyond a short black run.
            const SideProbe a = probeSide(image, centre, r, mid + e);
            const SideProbe b = probeSide(image, centre, r, mid - e);
            if (a.black + a.white >= kFraction * K && a.white > 1) ++p;
            if (b.black + b.white >= kFraction * K && b.white > 1) ++p;
            const int Y = std::max(kMinSideDifference, std::abs(b.black - a.black));
            const int Z = shortest + kCorridorSlack + Y;
            if (a.black <= Z) ++p;
            if (b.black <= Z) ++p;
            if (p == 5) {
                const SideProbe c = probeSide(image, centre, r, mid + 2 * e);
                const SideProbe d = probeSide(image, centre, r, mid - 2 * e);
                if (c.black <= Z) ++p;
                if (c.black + c.white + Y >= kFraction * K && c.white > 1) ++p;
                if (d.black <= Z) ++p;
                if (d.white <= 2 * Y + 5 && d.white > 1) ++p;
            }
            if (a.black + 5 <= b.black) ++p;

            // Bar length, bridging one white gap if the whole still matches.
            const cv::Point2d direction = rayDirection(mid);
            StartMarker& marker = candidate.marker;
            marker.rayStart = centre + r * direction;
            cv::Point2d point = marker.rayStart;
            const int barRun = countBlackRun(point, direction, image, true);
            marker.firstRunEnd = point;
            marker.barEnd = point;
            if (within(barRun, longest, kBarLengthTolerance)) {
                ++p;
            } else {
                const int nextRun = countBlackRun(point, direction, image, true);
                const double extent = cv::norm(point - centre) - r;
                if (nextRun > 1 && within(extent, longest, kBarLengthTolerance)) marker.barEnd = point;
            }

            // The bar cannot run much beyond where its neighbours' white ends.
            const double around = (a.radius + b.radius) / 2;
            if (!within(around, K, kBarLengthTolerance) && K > around) marker.barEnd = centre + around * direction;
        }
        logger().line(LogLevel::Trace, "angle: ", mid / kDegree, ", plausibility: ", p);
        candidate.plausibility = p;
        if (p >= (strict ? kStrictPlausibility : kMinPlausibility)) candidates.push_back(candidate);
    }
    return candidates;
}

ResultCode checkSingleStartMarker(const cv::Mat& image, double r, int modulesPerRing)
{
    const std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, r, modulesPerRing, true);
    if (candidates.empty()) return StartMarkerNotDetected;
    int best = 0;
    int times = 0;
    for (const StartMarkerCandidate& c : candidates) {
        if (c.plausibility > best) {
            best = c.plausibility;
            times = 1;
        } else if (c.plausibility == best) {
            ++times;
        }
    }
    return times > 1 ? MultipleStartMarkers : Success;
}

Found<std::vector<StartMarker>> detectStartMarker(const cv::Mat& image, int modulesPerRing, double R)
{
    std::vector<StartMarkerCandidate> candidates = findStartMarkers(image, R + kClearOfHub, modulesPerRing, false);
    if (candidates.empty()) return {StartMarkerNotDetected, {}};
    const auto barLength = [](const StartMarkerCandidate& c) { return cv::norm(c.marker.barEnd - c.marker.rayStart); };
    std::sort(candidates.begin(), candidates.end(), [&](const StartMarkerCandidate& a, const StartMarkerCandidate& b) {
        if (a.plausibility != b.plausibility) return a.plausibility > b.plausibility;
        return barLength(a) > barLength(b);
    });

    // Later candidates are tried only when they look nearly perfect.
    std::vector<StartMarker> worthTrying{candidates.front().marker};
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        if (candidates[i].plausibility >= kNearlyPerfect) worthTrying.push_back(candidates[i].marker);
    }
    return {Success, std::move(worthTrying)};
}

} // namespace orb
