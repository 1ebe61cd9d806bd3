#include "orb/detection/inner_zebra.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "orb/detection/angle_gaps.h"
#include "orb/detection/angular_edge.h"
#include "orb/detection/ray_walk.h"
#include "orb/detection/slot_assignment.h"
#include "orb/detection/tolerance.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

constexpr double kTenthDegree = kDegree / 10;
constexpr double kRemoved = -1024; // angle of a feature entry that was dropped
constexpr int kNeededPoints = 4;
// Feature widths are whole units of 0.0001 rad.
constexpr double kWidthUnits = 10000;
// A ray still counts as inside a feature while its run is at most
// expected / kEdgeFraction + 1.
constexpr double kEdgeFraction = 0.9;
// The threshold search spans at least this many pixels above the shortest run.
constexpr int kMinThresholdSpan = 25;
// Width tolerances: a piece as wide as a module, a feature too wide to be one.
constexpr double kModuleWidthTolerance = 0.05;
constexpr double kTooWideTolerance = 0.2;
// Gap tolerance when classing the spacing of neighbouring features.
constexpr double kGapTolerance = 0.15;
// Angles this close to 0 or 2π are taken as 0.
constexpr double kAngleEpsilon = 0.000001;
constexpr double kMaxVarianceCoeff = 0.8;
// A threshold that finds more features than the best so far, all evenly
// spaced, wins even if an evenly spaced subset scored slightly better.
constexpr double kEvenSpacingCoeff = 0.1;

struct ProfileEntry {
    int run;
    double angle;
};

struct Feature {
    int width; // angular width in units of 0.0001 rad
    double angle;
};

// Distance from radius R to the end of the first black run, one ray per degree.
std::vector<ProfileEntry> radialProfile(const cv::Mat& image, const cv::Point2d& centre, double R)
{
    std::vector<ProfileEntry> profile;
    for (double angle = 0; angle < kTwoPi; angle += kDegree) {
        const cv::Point2d direction = rayDirection(angle);
        const cv::Point2d start = centre + R * direction;
        cv::Point2d point = start;
        countBlackRun(point, direction, image, true);
        profile.push_back({static_cast<int>(cv::norm(point - start)), angle});
    }
    return profile;
}

// Stretches of the profile whose runs end before `threshold`, each taken once
// at its first entry; one that spans angle 0 starts before 2π.
std::vector<ProfileEntry> featuresAt(const std::vector<ProfileEntry>& profile, int threshold)
{
    std::vector<ProfileEntry> starts;
    bool inside = !profile.empty() && profile.back().run < threshold;
    for (const ProfileEntry& entry : profile) {
        if (entry.run >= threshold) {
            inside = false;
        } else if (!inside) {
            starts.push_back(entry);
            inside = true;
        }
    }
    return starts;
}

// The first ray of a stretch can graze the feature's edge and measure nearly
// the ring's full run; taken as the expected run it lets the edge search run
// on into the ring. Start instead at the first ray that the stretch's typical
// (median) run counts as inside. The stretch is not followed across 2π, so a
// feature spanning angle 0 keeps its start before 2π.
ProfileEntry settledStart(const std::vector<ProfileEntry>& profile, const ProfileEntry& start, int threshold,
                          double fraction)
{
    auto first = std::find_if(profile.begin(), profile.end(),
                              [&](const ProfileEntry& e) { return e.angle == start.angle; });
    auto last = std::find_if(first, profile.end(), [&](const ProfileEntry& e) { return e.run >= threshold; });
    if (first == last) return start;
    std::vector<int> runs;
    for (auto it = first; it != last; ++it) runs.push_back(it->run);
    auto middle = runs.begin() + (runs.size() - 1) / 2;
    std::nth_element(runs.begin(), middle, runs.end());
    const double inside = *middle / fraction + 1;
    return *std::find_if(first, last, [&](const ProfileEntry& e) { return e.run <= inside; });
}

// How unevenly the features spread over the four quadrants.
double quadrantVarCoeff(const std::vector<ProfileEntry>& features)
{
    int quadrant[4] = {0, 0, 0, 0};
    for (const ProfileEntry& feature : features) {
        const double a = feature.angle;
        ++quadrant[a < kTwoPi / 4 ? 0 : a < kTwoPi / 2 ? 1 : a < 3 * kTwoPi / 4 ? 2 : 3];
    }
    const double w = static_cast<double>(features.size()) / 4;
    double sum = 0;
    for (int q : quadrant) sum += (q - w) * (q - w);
    return std::sqrt(sum / 4) / w;
}

// How unevenly spaced the features are, the gap that closes the circle included.
double angleDiffsVarCoeff(const std::vector<ProfileEntry>& features)
{
    std::vector<double> angles;
    for (const ProfileEntry& feature : features) angles.push_back(feature.angle);
    const std::vector<double> gaps = circleGaps(angles);
    return gapVarCoeff(gaps, kTwoPi / static_cast<double>(gaps.size()));
}

bool wideEnough(int width, int moduleWidth)
{
    return width >= moduleWidth || within(width, moduleWidth, kModuleWidthTolerance);
}

// Drops features much wider than a module and merges pieces of one feature
// that the binarisation split.
void cleanFeatures(std::vector<Feature>& features, int moduleWidth, double moduleAngle)
{
    const std::size_t count = features.size();
    for (std::size_t k = 0; k < count; ++k) {
        Feature& current = features[k];
        const int h = current.width;
        if (wideEnough(h, moduleWidth)) {
            if (h > moduleWidth && !within(h, moduleWidth, kTooWideTolerance)) current.angle = kRemoved;
            continue;
        }
        const double halfWidth = h * 0.5 / kWidthUnits;
        if (k > 0 && current.angle - features[k - 1].angle < moduleAngle) {
            Feature& previous = features[k - 1];
            const double left = previous.angle - previous.width * 0.5 / kWidthUnits;
            const double right = current.angle + halfWidth;
            const double floor = k > 1 ? features[k - 2].angle : 0;
            previous.angle = std::max(floor, (left + right) / 2);
            previous.width = static_cast<int>(std::lround((right - left) * kWidthUnits));
            if (k >= 2 && previous.angle == features[k - 2].angle) {
                features[k - 2].width = std::max(features[k - 2].width, previous.width);
                previous.angle = kRemoved;
            }
            current.angle = kRemoved;
        } else if (k + 1 < count && wideEnough(features[k + 1].width, moduleWidth) &&
                   features[k + 1].angle - current.angle < moduleAngle) {
            Feature& next = features[k + 1];
            const double left = current.angle - halfWidth;
            const double right = next.angle + next.width * 0.5 / kWidthUnits;
            const double floor = k > 0 ? features[k - 1].angle : 0;
            current.angle = std::max(floor, (left + right) / 2);
            current.width = static_cast<int>(std::lround((right - left) * kWidthUnits));
            if (k > 0 && current.angle == features[k - 1].angle) {
                current.width = std::max(current.width, features[k - 1].width);
                features[k - 1].angle = kRemoved;
            }
            next.angle = kRemoved;
            ++k;
        }
    }
}

} // namespace

std::optional<double> moduleAngleFromFeatureWidth(int medianWidth)
{
    // A median width of a quarter turn or more rounds to no module at all.
    const double modules = std::round(kTwoPi / (medianWidth / kWidthUnits) * 0.125);
    if (!std::isfinite(modules) || modules < 1) return std::nullopt;
    return kTwoPi / (8 * modules);
}

int classifyGap(double gap)
{
    for (int k = 1; k <= 4; ++k) {
        if (within(gap, (kTwoPi / 4) / k, kGapTolerance)) return k - 1;
    }
    return 4;
}

double findFeatureEdge(double startAngle, double step, const cv::Mat& image, const cv::Point2d& centre, double R,
                       int expectedRun, double fraction)
{
    return findAngularEdge(startAngle, step, [&](double angle) {
        const cv::Point2d direction = rayDirection(angle);
        cv::Point2d point = centre + R * direction;
        return countBlackRun(point, direction, image, true) <= expectedRun / fraction + 1;
    });
}

Found<ZebraResult> validateInnerZebra(const cv::Mat& image, const std::vector<double>& angles,
                                      const cv::Point2d& centre, double R)
{
    const int n = static_cast<int>(angles.size());
    if (n < kNeededPoints) return {WrongPerspectiveMarkerCount, {}};

    // Group the neighbours by the kind of gap between them.
    std::vector<int> classes[4];
    if (const int c = classifyGap(angleGap(angles.back(), angles.front())); c < 4) classes[c].push_back(0);
    for (int i = 1; i < n; ++i) {
        const int c = classifyGap(angleGap(angles[i - 1], angles[i]));
        if (c >= 4) continue;
        if (classes[c].empty() || classes[c].back() != i - 1) classes[c].push_back(i - 1);
        classes[c].push_back(i);
    }
    int winner = 0;
    for (int c = 1; c < 4; ++c) {
        if (classes[c].size() > classes[winner].size()) winner = c;
    }
    const int maxAngles = 4 * winner + 4;
    logger().line(LogLevel::Trace, "maxAngles: ", maxAngles);
    if (classes[winner].size() < kNeededPoints) {
        logger().line(LogLevel::Trace, "m >= NeededPoints: ", classes[winner].size(), " >= ", kNeededPoints);
        return {WrongPerspectiveMarkerCount, {}};
    }

    const std::vector<SlotEntry> slots = assignSlots(angles, classes[winner], maxAngles, true);
    if (static_cast<int>(slots.size()) > maxAngles || slots.size() < kNeededPoints)
        return {WrongPerspectiveMarkerCount, {}};

    // Measure the markers along their rays; interpolated slots wait at R.
    ZebraResult result;
    result.count = maxAngles;
    std::vector<double> measuredRadius(maxAngles, -1);
    std::vector<int> pointOfSlot(maxAngles, -1);
    double radiusSum = 0;
    int measured = 0;
    int lastMeasured = -1;
    for (const SlotEntry& entry : slots) {
        if (!result.points.empty() && !(entry.angle > result.points.back().angle)) continue;
        const cv::Point2d direction = rayDirection(entry.angle);
        cv::Point2d point = centre + R * direction;
        if (!entry.interpolated) {
            countBlackRun(point, direction, image, true);
            const float radius = static_cast<float>(cv::norm(point - centre));
            measuredRadius[entry.slot] = radius;
            radiusSum += radius;
            ++measured;
            lastMeasured = entry.slot;
        }
        pointOfSlot[entry.slot] = static_cast<int>(result.points.size());
        result.points.push_back({static_cast<float>(point.x), static_cast<float>(point.y), entry.angle, entry.slot});
    }
    result.radius = measured > 0 ? std::round(radiusSum / measured) : 0;

    // Interpolated markers get a radius between their measured neighbours.
    int previous = lastMeasured;
    for (std::size_t i = 0; i < result.points.size() && previous >= 0; ++i) {
        const int l = result.points[i].slot;
        if (measuredRadius[l] < 0) continue;
        if (l == previous + 1 || (l == 0 && previous + 1 == maxAngles)) {
            previous = l;
            continue;
        }
        const int span = previous < l ? l - previous : l + maxAngles - previous;
        const double increment = (measuredRadius[l] - measuredRadius[previous]) / span;
        double radius = measuredRadius[previous];
        for (int j = (previous + 1) % maxAngles; j != l; j = (j + 1) % maxAngles) {
            radius += increment;
            if (pointOfSlot[j] < 0) continue;
            ZebraPoint& filled = result.points[pointOfSlot[j]];
            const cv::Point2d position = centre + radius * rayDirection(filled.angle);
            filled.x = static_cast<float>(position.x);
            filled.y = static_cast<float>(position.y);
        }
        previous = l;
    }
    return {Success, std::move(result)};
}

Found<ZebraResult> findInnerZebra(const cv::Mat& image, double R)
{
    logger().line(LogLevel::Debug, "  findInnerZebra");
    const cv::Point2d centre = imageCentre(image);
    const std::vector<ProfileEntry> profile = radialProfile(image, centre, R);
    int minBlack = std::numeric_limits<int>::max();
    int largest = 0;
    for (const ProfileEntry& entry : profile) {
        minBlack = std::min(minBlack, entry.run);
        largest = std::max(largest, entry.run);
    }
    const int maxThreshold = minBlack + std::max(kMinThresholdSpan, ((largest - minBlack) / 5 * 3) / 2);

    // The threshold at which the features come out most evenly spread.
    constexpr double infinity = std::numeric_limits<double>::infinity();
    double bestCombyVarCoeff = infinity;
    double bestVarCoeff = infinity;
    double bestAngleDiffsVarCoeff = infinity;
    int bestThreshold = 0;
    std::size_t bestPoints = 0;
    for (int threshold = minBlack; threshold < maxThreshold; ++threshold) {
        const std::vector<ProfileEntry> features = featuresAt(profile, threshold);
        const std::size_t nPoints = features.size();
        if (nPoints <= 3) continue;
        const double varCoeff = quadrantVarCoeff(features);
        const double diffsCoeff = angleDiffsVarCoeff(features);
        bestAngleDiffsVarCoeff = std::min(bestAngleDiffsVarCoeff, diffsCoeff);
        const double combyVarCoeff = diffsCoeff + varCoeff;
        bestVarCoeff = std::min(bestVarCoeff, varCoeff);
        // At a low threshold every second feature can show alone and evenly
        // spaced; the full set found later must not lose to it.
        if (combyVarCoeff < bestCombyVarCoeff || (nPoints > bestPoints && combyVarCoeff <= kEvenSpacingCoeff)) {
            bestThreshold = threshold;
            bestPoints = nPoints;
        }
        bestCombyVarCoeff = std::min(bestCombyVarCoeff, combyVarCoeff);
        if (logger().accepts(LogLevel::Trace)) {
            logger().line(LogLevel::Trace, "bestThreshold <= threshold < maxThreshold : ", bestThreshold, " <= ",
                          threshold, " < ", maxThreshold);
            logger().line(LogLevel::Trace, "nPoints >= NeededPoints : ", nPoints, " >= ", kNeededPoints);
            logger().line(LogLevel::Trace, "varCoeff >= bestVarCoeff : ", varCoeff, " >= ", bestVarCoeff);
            logger().line(LogLevel::Trace, "angleDiffsVarCoeff >= bestAngleDiffsVarCoeff : ", diffsCoeff, " >= ",
                          bestAngleDiffsVarCoeff);
            logger().line(LogLevel::Trace, "combyVarCoeff <= maxVarianceCoeff*5/4 : ", combyVarCoeff, " <= ",
                          kMaxVarianceCoeff * 5 / 4);
        }
    }
    if (bestCombyVarCoeff >= kMaxVarianceCoeff) {
        logger().line(LogLevel::Trace, "minBlack: ", minBlack);
        logger().line(LogLevel::Trace, "bestCombyVarCoeff >= maxVarianceCoeff : ", bestCombyVarCoeff, " >= ",
                      kMaxVarianceCoeff);
        return {PerspectiveMarkersNotDetected, {}};
    }

    // Refine each feature to its centre and angular width.
    std::vector<ProfileEntry> starts = featuresAt(profile, bestThreshold);
    for (ProfileEntry& start : starts) start = settledStart(profile, start, bestThreshold, kEdgeFraction);
    std::vector<Feature> features;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const double lo = findFeatureEdge(starts[i].angle, -kTenthDegree, image, centre, R, starts[i].run, kEdgeFraction);
        const double hi = findFeatureEdge(starts[i].angle, kDegree, image, centre, R, starts[i].run, kEdgeFraction);
        const int width = static_cast<int>(std::lround((hi - lo) * kWidthUnits));
        double angle = (hi + lo) / 2;
        if (i == 0 || angle - features.back().angle > kDegree) {
            if (angle < 0) angle += kTwoPi;
            else if (angle >= kTwoPi) angle -= kTwoPi;
            if (std::abs(angle) < kAngleEpsilon || std::abs(angle - kTwoPi) < kAngleEpsilon) angle = 0;
        } else {
            angle = kRemoved;
        }
        features.push_back({width, angle});
    }
    std::erase_if(features, [](const Feature& f) { return f.angle == kRemoved; });
    std::sort(features.begin(), features.end(), [](const Feature& a, const Feature& b) { return a.width < b.width; });
    const int medianWidth = features[features.size() / 2].width;
    std::sort(features.begin(), features.end(), [](const Feature& a, const Feature& b) { return a.angle < b.angle; });

    const std::optional<double> moduleAngle = moduleAngleFromFeatureWidth(medianWidth);
    if (!moduleAngle) return {WrongPerspectiveMarkerCount, {}};
    const int moduleWidth = static_cast<int>(*moduleAngle * kWidthUnits);
    cleanFeatures(features, moduleWidth, *moduleAngle);

    std::vector<double> angles;
    for (const Feature& f : features) {
        if (f.angle != kRemoved) angles.push_back(f.angle);
    }
    return validateInnerZebra(image, angles, centre, R);
}

} // namespace orb
