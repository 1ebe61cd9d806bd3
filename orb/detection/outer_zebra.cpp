#include "orb/detection/outer_zebra.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "orb/detection/angle_gaps.h"
#include "orb/detection/ray_walk.h"
#include "orb/detection/slot_assignment.h"
#include "orb/detection/tolerance.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

constexpr int kSamplings = 11; // each one pixel further inside the outline
// The outer edge: where the black share of the circle, over this many
// pixels of radius running, stays below this share of its largest.
constexpr int kEdgeRun = 3;
constexpr float kEdgeShare = 0.2f;
constexpr int kEdgeRays = 720;

// Centres of the black runs along one sampled ellipse.
std::vector<double> blackRunCentres(const ColorChanges& changes)
{
    std::vector<double> centres;
    const std::vector<double>& a = changes.angles;
    if (a.empty()) return centres;
    std::size_t first = 0;
    if (changes.startColor == 0) {
        // The first black run spans the start of the sampling.
        double centre = (a.front() + a.back() + kTwoPi) / 2;
        if (centre > kTwoPi) centre -= kTwoPi;
        centres.push_back(centre);
        first = 1;
    }
    for (std::size_t i = first; i + 1 < a.size(); i += 2) centres.push_back((a[i] + a[i + 1]) / 2);
    return centres;
}

// How far the spacing of the centres departs from `slots` equal steps.
double spacingVarCoeff(const std::vector<double>& centres, int slots)
{
    return gapVarCoeff(circleGaps(centres), kTwoPi / slots);
}

// Indices of the centres whose gap to a neighbour is one slot.
std::vector<int> evenlySpaced(const std::vector<double>& centres, double slotAngle)
{
    std::vector<int> indices;
    const std::size_t n = centres.size();
    if (within(angleGap(centres.back(), centres.front()), slotAngle, 0.15)) indices.push_back(0);
    for (std::size_t j = 1; j < n; ++j) {
        if (!within(angleGap(centres[j - 1], centres[j]), slotAngle, 0.15)) continue;
        const int previous = static_cast<int>(j) - 1;
        if (indices.empty() || indices.back() != previous) indices.push_back(previous);
        indices.push_back(static_cast<int>(j));
    }
    return indices;
}

// The pixels of the library's one-pixel outline of an ellipse (as
// cv::ellipse takes it) inside a `size` box. The outline lies along the
// polygon the library draws it as, so only a margin around each of that
// polygon's edges is cleared, drawn into and searched, not the whole box,
// which is almost all empty. Found pixels are cleared so that overlapping
// margins report each pixel once.
std::vector<cv::Point> outlinePixels(const cv::Size& size, const cv::Point& centre, const cv::Size& halfAxes,
                                     double angle, int arcStart, int arcEnd)
{
    // Finely enough that the polygon stays within a fraction of a pixel of
    // the drawn one, whose own step is never finer.
    constexpr int kStepDegrees = 2;
    constexpr int kMargin = 3;
    // Unrounded vertices: the whole-pixel form stands a short arc in for
    // its centre.
    std::vector<cv::Point2d> vertices;
    cv::ellipse2Poly(cv::Point2d(centre), cv::Size2d(halfAxes), cvRound(angle), arcStart, arcEnd, kStepDegrees,
                     vertices);
    const cv::Rect whole(cv::Point(0, 0), size);
    std::vector<cv::Rect> edges;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const cv::Point2d& a = vertices[i];
        const cv::Point2d& b = vertices[(i + 1) % vertices.size()];
        const cv::Point low(static_cast<int>(std::floor(std::min(a.x, b.x))) - kMargin,
                            static_cast<int>(std::floor(std::min(a.y, b.y))) - kMargin);
        const cv::Point high(static_cast<int>(std::ceil(std::max(a.x, b.x))) + kMargin + 1,
                             static_cast<int>(std::ceil(std::max(a.y, b.y))) + kMargin + 1);
        cv::Rect edge = cv::Rect(low, high) & whole;
        if (edge.empty()) continue;
        // Widened to whole eight-byte words, read a word at a time below.
        const int left = edge.x & ~7;
        edge = cv::Rect(left, edge.y, std::min(((edge.br().x - left + 7) & ~7), size.width - left), edge.height);
        edges.push_back(edge);
    }

    // The margins are small and many: plain row loops cost a fraction of a
    // library call per margin.
    cv::Mat mask(size, CV_8UC1); // only the edges' margins are ever read
    for (const cv::Rect& edge : edges)
        for (int y = edge.y; y < edge.br().y; ++y) std::fill_n(mask.ptr<std::uint8_t>(y, edge.x), edge.width, 0);
    cv::ellipse(mask, centre, halfAxes, angle, arcStart, arcEnd, cv::Scalar(255), 1, cv::LINE_8);
    // Most of a margin is empty: only a word that holds part of the outline
    // is looked at byte by byte. The order does not matter, the pixels are
    // sorted by angle afterwards.
    std::vector<cv::Point> pixels;
    const auto take = [&](std::uint8_t* row, int x, int y) {
        if (row[x] == 0) return;
        pixels.emplace_back(x, y);
        row[x] = 0;
    };
    for (const cv::Rect& edge : edges)
        for (int y = edge.y; y < edge.br().y; ++y) {
            std::uint8_t* row = mask.ptr<std::uint8_t>(y);
            const int end = edge.br().x;
            int x = edge.x;
            for (; end - x >= 8; x += 8) {
                std::uint64_t word = 0;
                std::memcpy(&word, row + x, sizeof word);
                if (word == 0) continue;
                for (int i = 0; i < 8; ++i) take(row, x + i, y);
            }
            for (; x < end; ++x) take(row, x, y);
        }
    return pixels;
}

// A key that orders directions from `centre` as their angle in (-pi, pi]
// does, without the angle's cost: the share of x in |x| + |y|, which turns
// monotonically along each half plane. Equal directions get equal keys,
// since the division is exact to the last bit for equal ratios.
double angleKey(const cv::Point& p, const cv::Point& centre)
{
    const int dx = p.x - centre.x;
    const int dy = centre.y - p.y; // up
    const int sum = std::abs(dx) + std::abs(dy);
    if (sum == 0) return 0; // the centre itself, at angle 0
    const double share = static_cast<double>(dx) / sum;
    return dy >= 0 ? 1 - share : share - 1;
}

// The outline's pixels sorted by their angle around `centre` (counter-
// clockwise from -pi, as atan2 gives it), ties by row and column. The keys
// spread evenly enough that a bucket per pixel leaves only a handful to
// sort in each, so the sort costs little more than two passes. Pixels of
// the very same direction are ordered by atan2 itself, so that the order
// is exactly the one atan2 gives.
std::vector<cv::Point> inAngleOrder(const std::vector<cv::Point>& pixels, const cv::Point& centre)
{
    struct Keyed {
        double key;
        cv::Point p;
    };
    const std::size_t n = pixels.size();
    std::vector<Keyed> keyed(n);
    std::vector<std::uint32_t> bucketOf(n);
    std::vector<std::uint32_t> start(n + 1, 0);
    const double perKey = static_cast<double>(n) / 4; // keys lie in (-2, 2]
    for (std::size_t i = 0; i < n; ++i) {
        const double key = angleKey(pixels[i], centre);
        const auto bucket = std::min(static_cast<std::size_t>((key + 2) * perKey), n - 1);
        keyed[i] = {key, pixels[i]};
        bucketOf[i] = static_cast<std::uint32_t>(bucket);
        ++start[bucket + 1];
    }
    for (std::size_t b = 0; b < n; ++b) start[b + 1] += start[b];
    std::vector<Keyed> sorted(n);
    {
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < n; ++i) sorted[next[bucketOf[i]]++] = keyed[i];
    }
    const auto byKey = [](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        return a.p.y != b.p.y ? a.p.y < b.p.y : a.p.x < b.p.x;
    };
    for (std::size_t b = 0; b < n; ++b)
        if (start[b + 1] - start[b] > 1) std::sort(sorted.begin() + start[b], sorted.begin() + start[b + 1], byKey);

    // Runs of one direction: atan2 of equal directions may differ in the
    // last bit, and it is atan2's order that counts.
    const auto angleOf = [&](const cv::Point& p) {
        return std::atan2(static_cast<double>(centre.y - p.y), static_cast<double>(p.x - centre.x));
    };
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i + 1;
        while (end < n && sorted[end].key == sorted[i].key) ++end;
        if (end - i > 1) {
            for (std::size_t j = i; j < end; ++j) sorted[j].key = angleOf(sorted[j].p);
            std::sort(sorted.begin() + i, sorted.begin() + end, byKey);
        }
        i = end;
    }

    std::vector<cv::Point> ordered(n);
    for (std::size_t i = 0; i < n; ++i) ordered[i] = sorted[i].p;
    return ordered;
}

} // namespace

ColorChanges sampleEllipse(const cv::Mat& image, const cv::Point& centre, const cv::Size& axes, double angle,
                           int arcStart, int arcEnd)
{
    ColorChanges changes;
    changes.startColor = 255;
    const cv::Size halfAxes(std::abs(axes.width), std::abs(axes.height));

    // Let the library draw the outline, so the pixels are exactly its own,
    // within the outline's bounding box only.
    const int reach = std::max(halfAxes.width, halfAxes.height) + 2;
    const cv::Rect box = cv::Rect(centre.x - reach, centre.y - reach, 2 * reach + 1, 2 * reach + 1) &
                         cv::Rect(0, 0, image.cols, image.rows);
    if (box.empty()) return changes;
    const std::vector<cv::Point> pixels = outlinePixels(box.size(), centre - box.tl(), halfAxes, angle, arcStart, arcEnd);
    if (pixels.empty()) return changes;

    const std::vector<cv::Point> ordered = inAngleOrder(pixels, centre - box.tl());
    const auto whiteAt = [&](const cv::Point& local) { return image.at<std::uint8_t>(local + box.tl()) != 0; };
    const auto angleAt = [&](const cv::Point& local) {
        const cv::Point p = local + box.tl();
        return std::atan2(static_cast<double>(centre.y - p.y), static_cast<double>(p.x - centre.x));
    };
    bool previous = whiteAt(ordered.front());
    changes.startColor = previous ? 255 : 0;
    // The first pixel once more closes the loop.
    for (std::size_t i = 1; i <= ordered.size(); ++i) {
        const cv::Point& local = ordered[i % ordered.size()];
        const bool white = whiteAt(local);
        if (white != previous) changes.angles.push_back(angleAt(local));
        previous = white;
    }
    // The change back at the first pixel closes the loop.
    if (!changes.angles.empty() && changes.angles.back() < 0) changes.angles.back() += kTwoPi;
    return changes;
}

cv::RotatedRect fitOuterEllipse(const cv::Mat& image, cv::Point2d& centre, const cv::Point2d& trialPoint)
{
    const double limit = cv::norm(trialPoint - centre) + 5;
    const cv::Point2d anchor(std::rint(centre.x), std::rint(centre.y));

    // Only outlines within reach of the outer ring count, so only the square
    // around that reach is traced, framed in white: the frame is the first
    // outline, which is skipped as the whole image's border would be.
    const double whole = image.cols + image.rows;
    const double reach = limit + 3 < whole ? limit + 3 : whole; // also for a limit that is not a number
    const cv::Rect square = cv::Rect(cv::Point(static_cast<int>(std::floor(anchor.x - reach)),
                                               static_cast<int>(std::floor(anchor.y - reach))),
                                     cv::Point(static_cast<int>(std::ceil(anchor.x + reach)) + 1,
                                               static_cast<int>(std::ceil(anchor.y + reach)) + 1)) &
                            cv::Rect(0, 0, image.cols, image.rows);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    if (!square.empty()) {
        cv::Mat framed;
        cv::copyMakeBorder(image(square), framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(255));
        cv::findContours(framed, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE,
                         square.tl() - cv::Point(1, 1));
    }

    // Keep only the outline points within reach of the outer ring.
    cv::parallel_for_(cv::Range(0, static_cast<int>(contours.size())), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            std::erase_if(contours[i], [&](const cv::Point& p) { return cv::norm(cv::Point2d(p) - anchor) > limit; });
        }
    });
    std::vector<cv::Point> points;
    for (std::size_t i = 1; i < contours.size(); ++i) points.insert(points.end(), contours[i].begin(), contours[i].end());

    cv::RotatedRect ellipse(cv::Point2f(0, 0), cv::Size2f(0, 0), 0);
    if (points.size() >= 2) {
        std::vector<cv::Point> hull;
        cv::convexHull(points, hull, false, true);
        if (hull.size() >= 5) ellipse = cv::fitEllipse(hull);
    }
    centre = cv::Point2d(ellipse.center);
    return ellipse;
}

Found<ZebraResult> findOuterZebra(const cv::Mat& image, int modulesPerRing, const cv::Point2d& trialPoint)
{
    cv::Point2d centre = imageCentre(image);
    const cv::RotatedRect ellipse = fitOuterEllipse(image, centre, trialPoint);
    // A degenerate fit gives nothing to sample rather than absurd axes.
    const bool usable = std::isfinite(ellipse.size.width) && std::isfinite(ellipse.size.height) &&
                        std::abs(ellipse.size.width) < 1e6f && std::abs(ellipse.size.height) < 1e6f &&
                        std::isfinite(centre.x) && std::isfinite(centre.y);
    if (!usable) centre = cv::Point2d(0, 0);
    const float W = usable ? ellipse.size.width : 0.0f;
    const float H = usable ? ellipse.size.height : 0.0f;
    const float alpha = ellipse.angle;
    logger().line(LogLevel::Debug, "     findOuterZebra");

    // The sampling whose black modules are spaced most evenly.
    const int d = modulesPerRing / 2;
    double bestAngleDiffsVarCoeff = std::numeric_limits<double>::infinity();
    std::vector<double> best;
    const cv::Point roundedCentre(static_cast<int>(std::rint(centre.x)), static_cast<int>(std::rint(centre.y)));
    // The samplings are independent and the costliest part of the stage:
    // taken side by side on the cores, then weighed in order.
    std::vector<ColorChanges> samplings(kSamplings);
    cv::parallel_for_(cv::Range(0, kSamplings), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            const cv::Size axes(static_cast<int>(std::roundf((W - 2 * i) * 0.5f)),
                                static_cast<int>(std::roundf((H - 2 * i) * 0.5f)));
            samplings[i] = sampleEllipse(image, roundedCentre, axes, alpha, 0, 360);
        }
    });
    for (const ColorChanges& changes : samplings) {
        if (changes.angles.size() % 2 != 0) continue;
        logger().line(LogLevel::Trace, "startColor: ", changes.startColor);
        logger().line(LogLevel::Trace, "colorChanges.size(): ", changes.angles.size());
        std::vector<double> centres = blackRunCentres(changes);
        if (d > 0) {
            const double coeff = spacingVarCoeff(centres, d);
            if (coeff < bestAngleDiffsVarCoeff) {
                bestAngleDiffsVarCoeff = coeff;
                best = std::move(centres);
            }
            logger().line(LogLevel::Trace, "Outer Zebra angleDiffsVarCoeff < bestAngleDiffsVarCoeff : ", coeff, " < ",
                          bestAngleDiffsVarCoeff);
        }
    }

    const int n = static_cast<int>(best.size());
    if (n < 4 || !within(n, d, 0.33)) return {WrongOuterZebraModuleCount, {}};
    const std::vector<int> indices = evenlySpaced(best, kTwoPi / d);
    if (indices.size() < 4) return {WrongOuterZebraModuleCount, {}};
    const std::vector<SlotEntry> slots = assignSlots(best, indices, d, false);
    if (static_cast<int>(slots.size()) > d || slots.size() < 4) return {WrongOuterZebraModuleCount, {}};

    // One point per module on the fitted ellipse.
    ZebraResult result;
    result.count = d;
    double radiusSum = 0;
    const double a2 = (W / 2.0) * (W / 2.0);
    const double b2 = (H / 2.0) * (H / 2.0);
    for (const SlotEntry& slot : slots) {
        if (!result.points.empty() && !(slot.angle > result.points.back().angle)) continue;
        const double c = std::cos(slot.angle + alpha * kTwoPi / 360);
        const double radius = std::sqrt(c * c * (a2 - b2) + b2);
        const cv::Point2d point = centre + radius * rayDirection(slot.angle);
        result.points.push_back({static_cast<float>(point.x), static_cast<float>(point.y), slot.angle, slot.slot});
        radiusSum += radius;
    }
    result.radius = std::round(radiusSum / static_cast<double>(result.points.size()));
    return {Success, std::move(result)};
}

double outerEdgeRadius(const cv::Mat& image, double from)
{
    const cv::Point2d centre = imageCentre(image);
    const int reach = static_cast<int>(std::ceil(cv::norm(centre)));
    const int start = static_cast<int>(std::ceil(from));
    if (image.empty() || start < 0 || start + kEdgeRun >= reach) return 0;

    // Black as lit, so that the polar image's fill beyond the border is
    // white; a column per pixel of radius, its mean the black share there.
    cv::Mat black, polar, share;
    cv::bitwise_not(image, black);
    cv::warpPolar(black, polar, cv::Size(reach, kEdgeRays), centre, reach,
                  static_cast<int>(cv::INTER_NEAREST) | static_cast<int>(cv::WARP_POLAR_LINEAR) |
                      static_cast<int>(cv::WARP_FILL_OUTLIERS));
    cv::reduce(polar, share, 0, cv::REDUCE_AVG, CV_32F);
    const cv::Mat_<float> shares = share;

    // Every ring is part black, the inner zebra's nearly all; past the
    // outer zebra the quiet zone is white all round, but for what hides it.
    const float low = kEdgeShare * *std::max_element(shares.begin() + start, shares.end());
    for (int r = start; r + kEdgeRun < reach; ++r) {
        bool quiet = true;
        for (int k = 0; k < kEdgeRun && quiet; ++k) quiet = shares(r + k) < low;
        if (quiet) return r;
    }
    return 0;
}

std::vector<cv::Point2d> outerZebraTrialPoints(const cv::Mat& image, const StartMarker& marker)
{
    std::vector<cv::Point2d> trialPoints{marker.barEnd};
    if (marker.barEnd != marker.firstRunEnd) {
        trialPoints.push_back(marker.firstRunEnd);
        const cv::Point2d centre = imageCentre(image);
        if (cv::norm(trialPoints[1] - centre) > cv::norm(trialPoints[0] - centre)) std::swap(trialPoints[0], trialPoints[1]);
    }
    return trialPoints;
}

std::optional<cv::Point2d> outerEdgeTrialPoint(const cv::Mat& image, const StartMarker& marker,
                                               const std::vector<cv::Point2d>& tried)
{
    const cv::Point2d centre = imageCentre(image);
    const double edge = outerEdgeRadius(image, cv::norm(marker.rayStart - centre));
    const bool apart = std::all_of(tried.begin(), tried.end(), [&](const cv::Point2d& p) {
        return std::abs(cv::norm(p - centre) - edge) > kEdgeRun;
    });
    if (edge <= 0 || !apart) return std::nullopt;
    return centre + edge * rayDirection(marker.angle);
}

Found<OuterZebra> detectOuterZebra(const cv::Mat& image, int modulesPerRing, const StartMarker& marker,
                                   const cv::Point2d& trialPoint)
{
    Found<ZebraResult> zebra = findOuterZebra(image, modulesPerRing, trialPoint);
    if (!zebra) return {zebra.code, {}};
    OuterZebra found{std::move(zebra.value), marker};
    found.startMarker.barEnd = imageCentre(image) + found.zebra.radius * rayDirection(marker.angle);
    return {Success, std::move(found)};
}

} // namespace orb
