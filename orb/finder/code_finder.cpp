#include "orb/finder/code_finder.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "orb/finder/local_threshold.h"
#include "orb/finder/labelled_regions.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"

namespace orb {

namespace {

// Largest hub radius as a share of the image's short side.
constexpr double kLargestHubShare = 0.4;

// Least share of its box, frame included, that a hub's pixels fill: an
// ellipse at the flattest axis ratio allowed (0.2), turned 45 degrees,
// fills about 0.3 of its box, and the smallest one with its frame still
// more than this. Regions that fill less do not overlap one another, so
// the cuts looked at cover the image a few times at most.
constexpr double kLeastBoxShare = 0.15;


// The dot's minor/major axis ratio once its hub is stretched round; a
// drawn dot comes out round, the smallest ones at about 0.85 after
// thresholding.
constexpr double kLeastDotRoundness = 0.6;

// How round the dot of moments `dot` becomes, and how far its centre lies
// from the hub's in hub radii, in the frame where `hub` is a unit circle.
std::pair<double, double> dotInHubFrame(const cv::Moments& dot, const cv::RotatedRect& hub)
{
    const double turn = hub.angle * CV_PI / 180;
    const cv::Matx22d rotation(std::cos(turn), std::sin(turn), -std::sin(turn), std::cos(turn));
    const cv::Matx22d round = cv::Matx22d(2 / hub.size.width, 0, 0, 2 / hub.size.height) * rotation;
    const cv::Matx22d spread(dot.mu20, dot.mu11, dot.mu11, dot.mu02);
    const cv::Matx22d seen = round * spread * round.t();
    cv::Matx21d axes;
    cv::eigen(seen, axes);
    const double roundness = axes(0) > 0 ? std::sqrt(std::max(axes(1), 0.0) / axes(0)) : 0;
    const cv::Vec2d offset = round * cv::Vec2d(dot.m10 / dot.m00 - hub.center.x, dot.m01 / dot.m00 - hub.center.y);
    return {roundness, cv::norm(offset)};
}

// Least share of its convex hull that a dot's outline fills: a printed dot
// is convex but for a pixel or two of its edge, even at a few pixels' size,
// while a code's dark, wound in and out of the gaps between its modules,
// fills about half of its hull.
constexpr double kLeastDotSolidity = 0.75;

// Whether a point of a 7x7 grid about the middle of `box`, spaced a tenth
// of the box, lies off `region`. A hub's dot has a radius of at least 0.22
// hub radii and its centre within 0.25 of the hub's. The grid stretches
// with the box, so on a hub whose axes lie along the box's the dot covers
// one of the points however flat the hub; the more a flat hub is turned,
// the more of the grid's outer points fall beyond the hub, in its ring.
// Down to the flattest axis ratio allowed (0.2) no real hub is turned
// down; on flatter ones a small dot far off centre slips between them.
// Most white regions of a photograph hold no dark there and are turned down
// before any outline is traced.
bool darkNearMiddle(const LabelledRegions& regions, const cv::Rect& box, int region)
{
    for (int j = -3; j <= 3; ++j)
        for (int i = -3; i <= 3; ++i) {
            const int x = box.x + static_cast<int>(std::lround((0.5 + 0.1 * i) * (box.width - 1)));
            const int y = box.y + static_cast<int>(std::lround((0.5 + 0.1 * j) * (box.height - 1)));
            if (regions.labelAt({x, y}) != region) return true;
        }
    return false;
}

// The place of `hub`, found in a copy reduced `scale` times, in the
// caller's pixels (pixel centres as the resize placed them).
CodeCandidate candidateAt(const cv::RotatedRect& hub, double scale, double score)
{
    CodeCandidate candidate;
    candidate.hub = hub;
    candidate.hub.center = {static_cast<float>((hub.center.x + 0.5) * scale - 0.5),
                            static_cast<float>((hub.center.y + 0.5) * scale - 0.5)};
    candidate.hub.size = {static_cast<float>(hub.size.width * scale), static_cast<float>(hub.size.height * scale)};
    candidate.centre = candidate.hub.center;
    candidate.hubRadius = (hub.size.width + hub.size.height) / 4.0 * scale;
    candidate.maxCodeRadius = kMaxCodeRadiusInHubs * candidate.hubRadius;
    candidate.score = std::clamp(score, 0.0, 1.0);
    return candidate;
}

// The hubs of one binarised image, in its own pixels. Every white region
// that dark encloses may be a hub; its outline and its dark children are
// traced in a cut around it alone. A contour tree of the whole image would
// do the same, but its time grows with the square of the regions, and a
// fine checkerboard or noise holds a million of them.
void collectHubs(const cv::Mat& dark, const FinderOptions& options, double scale, std::vector<CodeCandidate>& found)
{
    // White around the image, as the contour search assumes: white that
    // reaches the edge is the scene's, not a hole.
    cv::Mat framed;
    cv::copyMakeBorder(dark, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    // Four-connected, as the contour search sees holes between eight-connected dark.
    const LabelledRegions regions(framed == 0, 4);
    const int outside = regions.labelAt({0, 0});
    for (int region = 1; region < regions.count(); ++region) {
        if (region == outside) continue;
        const RegionBox& extent = regions.box(region);
        const cv::Rect box = extent.rect();
        // The hole's outline runs through the dark pixels next to it, so it
        // encloses at most its box grown by half a pixel each way.
        if ((box.width + 1.0) * (box.height + 1.0) < options.minHubArea) continue;
        const double framedBox = (box.width + 2.0) * (box.height + 2.0);
        if (extent.pixels < kLeastBoxShare * framedBox) continue;

        // A hub holds its dot: a region without a hole has none.
        if (extent.holes() < 1 || !darkNearMiddle(regions, box, region)) continue;

        const cv::Rect cut(box.x - 1, box.y - 1, box.width + 2, box.height + 2);
        const cv::Point origin = cut.tl() - cv::Point(1, 1); // the cut's corner in `dark`
        // With all else dark the hole's outline comes out as in the whole
        // image: it touches only the dark pixels next to the hole.
        std::vector<std::vector<cv::Point>> outlines;
        std::vector<cv::Vec4i> nesting;
        cv::findContours(regions.maskOf(region, cut) == 0, outlines, nesting, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE, origin);
        const auto hole = std::find_if(nesting.begin(), nesting.end(), [](const cv::Vec4i& n) { return n[3] >= 0; });
        if (hole == nesting.end()) continue;
        const std::vector<cv::Point>& outline = outlines[static_cast<std::size_t>(hole - nesting.begin())];
        const double hubArea = cv::contourArea(outline);
        if (hubArea < options.minHubArea || outline.size() < 5) continue;

        // Every other outer border lies in the hole: a dark child with all
        // it holds (the region is one piece, so nothing else can enclose it).
        // The one trace gives them, and counting them first turns down most
        // regions before the dearer ellipse fit.
        const int frame = (*hole)[3];
        const std::vector<cv::Point>* dot = nullptr;
        int dots = 0;
        double dotArea = 0;
        for (std::size_t i = 0; i < outlines.size() && dots < 2; ++i) {
            if (nesting[i][3] >= 0 || static_cast<int>(i) == frame) continue;
            const double area = cv::contourArea(outlines[i]);
            // Specks of noise and compression are no dot.
            if (area < options.speckShare * hubArea) continue;
            dot = &outlines[i];
            dotArea = area;
            ++dots;
        }
        if (dots != 1) continue;
        const double share = dotArea / hubArea;
        if (share < options.minDotShare || share > options.maxDotShare) continue;
        // A dot is convex. A card round a code whose hub runs out into it
        // holds the code's dark as one child, and its place, as large as the
        // card, would hide the code's own hub found another way.
        std::vector<cv::Point> hull;
        cv::convexHull(*dot, hull);
        if (dotArea < kLeastDotSolidity * cv::contourArea(hull)) continue;

        const cv::RotatedRect hub = cv::fitEllipse(outline);
        const double major = std::max(hub.size.width, hub.size.height);
        const double minor = std::min(hub.size.width, hub.size.height);
        if (major <= 0 || minor / major < options.minAxisRatio) continue;
        const double ellipseArea = CV_PI * hub.size.width * hub.size.height / 4.0;
        const double fill = hubArea / ellipseArea;
        if (fill < options.minHubFill || fill > 1.0 / options.minHubFill) continue;

        const double radius = (hub.size.width + hub.size.height) / 4.0;
        // A code is wider than its hub by far more than this; larger holes
        // are the scene's (and would make huge cuts).
        if (radius > kLargestHubShare * std::min(dark.cols, dark.rows)) continue;

        const cv::Moments m = cv::moments(*dot);
        if (m.m00 <= 0) continue;
        const cv::Point2d dotCentre(m.m10 / m.m00, m.m01 / m.m00);
        const double offset = cv::norm(dotCentre - cv::Point2d(hub.center)) / radius;
        if (offset > options.maxDotOffset) continue;
        // A flat hub is also held to its dot's shape: long white regions
        // with a streak down the middle are common in photographs, while a
        // tilted code's dot is its hub in small, and both turn round together.
        if (minor / major < kFlatHubAxisRatio) {
            const auto [roundness, seenOffset] = dotInHubFrame(m, hub);
            if (roundness < kLeastDotRoundness || seenOffset > options.maxDotOffset) continue;
        }

        // Best: a hub that is a clean ellipse with the dot in its middle.
        found.push_back(candidateAt(hub, scale, 1.0 - std::abs(1.0 - fill) - offset));
    }
}

// Rays cast from a lone dot to find its hub's ring.
constexpr int kOpenHubRays = 32;

// Smallest dot, pixels, that an open hub is sought round: smaller ones give
// the rays no shape to scale.
constexpr int kLeastOpenDotPixels = 16;

// Share of the rays that must meet the ring where the hub's outline says:
// "most of its turn". With less, a dot among text or clutter often has
// dark at some like distance round it, which a read then pays for.
constexpr double kLeastClosedShare = 0.8;

// How far a ray's meeting with the ring may lie off the hub's outline, in hub radii.
constexpr double kRingTolerance = 0.12;

// How far past its outline, in hub radii, an open hub's white must run.
constexpr double kOpenHubReach = 1.5;

// Whether the white of `dark` at `seed`, inside `hub`, runs out past
// kOpenHubReach times the hub (or out of the image).
bool runsOut(const cv::Mat& dark, const cv::RotatedRect& hub, const cv::Point& seed)
{
    const cv::RotatedRect grown(hub.center, hub.size * static_cast<float>(kOpenHubReach), hub.angle);
    const cv::Rect around = grown.boundingRect() & cv::Rect(0, 0, dark.cols, dark.rows);
    if (!around.contains(seed)) return false;
    cv::Mat white = dark(around) == 0;
    cv::floodFill(white, seed - around.tl(), cv::Scalar(128), nullptr, cv::Scalar(), cv::Scalar(), 4);
    const auto reached = [&](const cv::Mat& edge) { return cv::countNonZero(edge == 128) > 0; };
    return reached(white.row(0)) || reached(white.row(white.rows - 1)) || reached(white.col(0)) ||
           reached(white.col(white.cols - 1));
}

// The hubs of one binarised image whose ring a light blot broke open, in the
// image's own pixels. With the ring open the hub's white runs out into the
// paper and holds its dot among all else the paper holds, so the search
// starts from the dot: a convex dark region alone in white, from whose
// centre rays meet dark again at a hub's distance on most of the turn. The
// hub is the ellipse through those meetings; the rays through the gap run
// on into the data rings and are left out of it.
void collectOpenHubs(const cv::Mat& dark, const FinderOptions& options, double scale, std::vector<CodeCandidate>& found)
{
    // Eight-connected, the complement of the four-connected white.
    const LabelledRegions dots(dark, 8);
    const double largestHub = kLargestHubShare * std::min(dark.cols, dark.rows);
    // A drawn dot is the hub in small; the one least in its hub, with its
    // centre off the hub's, has the ring this many dot radii out at most.
    const double reach = (1 + options.maxDotOffset) / std::sqrt(options.minDotShare);
    const cv::Rect inside(0, 0, dark.cols, dark.rows);
    for (int label = 1; label < dots.count(); ++label) {
        const RegionBox& extent = dots.box(label);
        if (extent.pixels < kLeastOpenDotPixels) continue;
        const cv::Rect box = extent.rect();
        if (extent.pixels < kLeastBoxShare * box.area()) continue;
        if (std::min(box.width, box.height) < options.minAxisRatio * std::max(box.width, box.height)) continue;
        // The ring lies within `reach` dot radii: the whole hub must fit the image.
        const double roughRadius = 0.5 * std::max(box.width, box.height);
        const cv::Point2d middle(box.x + 0.5 * box.width, box.y + 0.5 * box.height);
        if (reach * roughRadius > largestHub || middle.x - reach * roughRadius < 0 ||
            middle.y - reach * roughRadius < 0 || middle.x + reach * roughRadius > dark.cols ||
            middle.y + reach * roughRadius > dark.rows)
            continue;

        const cv::Moments m = cv::moments(dots.maskOf(label, box), true);
        if (m.m00 <= 0) continue;
        const cv::Point2d centre(box.x + m.m10 / m.m00, box.y + m.m01 / m.m00);
        // A uniform ellipse has the spread of its half axes squared over 4.
        const cv::Matx22d spread(m.mu20 / m.m00, m.mu11 / m.m00, m.mu11 / m.m00, m.mu02 / m.m00);
        const double determinant = cv::determinant(spread);
        if (determinant <= 0) continue;
        const double fill = m.m00 / (4 * CV_PI * std::sqrt(determinant));
        if (fill < options.minHubFill || fill > 1.0 / options.minHubFill) continue; // a dot is convex too
        const cv::Matx22d inverse = spread.inv();

        // Each ray starts just past the dot's edge, which must be white: a
        // dot alone in its hub. Most dark regions of a photograph touch
        // other dark there and are turned down in the first few rays.
        std::vector<cv::Point2f> meetings;
        std::vector<double> reaches; // where each ray met dark, in dot radii along it
        cv::Point seed;              // a white pixel next to the dot
        int blocked = 0;
        for (int k = 0; k < kOpenHubRays && blocked <= (1 - kLeastClosedShare) * kOpenHubRays; ++k) {
            const double angle = k * 2 * CV_PI / kOpenHubRays;
            const cv::Vec2d way(std::cos(angle), std::sin(angle));
            const double dotRadius = 2 / std::sqrt((way.t() * inverse * way)(0));
            const cv::Point start(cvRound(centre.x + 1.5 * dotRadius * way[0]),
                                  cvRound(centre.y + 1.5 * dotRadius * way[1]));
            const cv::Point end(cvRound(centre.x + reach * dotRadius * way[0]),
                                cvRound(centre.y + reach * dotRadius * way[1]));
            if (!inside.contains(start) || dark.at<uchar>(start) != 0) {
                ++blocked;
                continue;
            }
            if (meetings.empty()) seed = start;
            cv::LineIterator ray(dark, start, end, 8);
            bool met = false;
            for (int step = 0; step < ray.count; ++step, ++ray)
                if (**ray != 0) {
                    const cv::Point2f at(ray.pos());
                    meetings.push_back(at);
                    reaches.push_back(cv::norm(cv::Point2d(at) - centre) / dotRadius);
                    met = true;
                    break;
                }
            if (!met) ++blocked;
        }
        const int least = static_cast<int>(std::ceil(kLeastClosedShare * kOpenHubRays));
        if (static_cast<int>(meetings.size()) < least) continue;

        // The rays through the gap meet the data rings further out: the
        // ellipse is fitted to those near the median first.
        std::vector<double> sorted = reaches;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        const double typical = sorted[sorted.size() / 2];
        std::vector<cv::Point2f> ring;
        for (std::size_t i = 0; i < meetings.size(); ++i)
            if (std::abs(reaches[i] - typical) <= (options.maxDotOffset + kRingTolerance) * typical)
                ring.push_back(meetings[i]);
        if (static_cast<int>(ring.size()) < least) continue;
        const cv::RotatedRect hub = cv::fitEllipse(ring);
        const double major = std::max(hub.size.width, hub.size.height);
        const double minor = std::min(hub.size.width, hub.size.height);
        if (minor <= 0 || minor / major < options.minAxisRatio) continue;
        // Every meeting near the outline counts, those the median left out too.
        const double turn = hub.angle * CV_PI / 180;
        const auto offOutline = [&](const cv::Point2f& at) {
            const double dx = at.x - hub.center.x, dy = at.y - hub.center.y;
            const double along = (dx * std::cos(turn) + dy * std::sin(turn)) / (0.5 * hub.size.width);
            const double across = (-dx * std::sin(turn) + dy * std::cos(turn)) / (0.5 * hub.size.height);
            return std::abs(std::hypot(along, across) - 1);
        };
        const auto onRing = std::count_if(meetings.begin(), meetings.end(),
                                          [&](const cv::Point2f& at) { return offOutline(at) <= kRingTolerance; });
        if (onRing < least) continue;

        const double radius = (hub.size.width + hub.size.height) / 4.0;
        if (radius > largestHub) continue;
        // The ring is the code's dark, which ends within the code: dark
        // that runs on further, as the paper round a light letter's bowl
        // on a dark page, is the scene's.
        const double widest = 2 * kMaxCodeRadiusInHubs * radius;
        const bool withinCode = std::all_of(meetings.begin(), meetings.end(), [&](const cv::Point2f& at) {
            if (offOutline(at) > kRingTolerance) return true;
            const RegionBox& piece = dots.box(dots.labelAt(cv::Point(at)));
            return piece.right - piece.left < widest && piece.bottom - piece.top < widest;
        });
        if (!withinCode) continue;
        const double share = m.m00 / (CV_PI * hub.size.width * hub.size.height / 4.0);
        if (share < options.minDotShare || share > options.maxDotShare) continue;
        cv::Moments dot = m; // in the image's pixels, for the hub's frame
        dot.m10 += box.x * m.m00;
        dot.m01 += box.y * m.m00;
        const auto [roundness, offset] = dotInHubFrame(dot, hub);
        if (roundness < kLeastDotRoundness || offset > options.maxDotOffset) continue;
        // A hub whose white is closed round its dot is the plain search's to
        // find. Dark closed round a dot the plain search turned down, as
        // round a letter's bowl, is no broken ring: its white ends there.
        if (!runsOut(dark, hub, seed)) continue;

        // As a closed hub's: how much of a drawn hub's outline is there,
        // less the dot's distance from its centre.
        found.push_back(candidateAt(hub, scale, static_cast<double>(onRing) / kOpenHubRays - offset));
    }
}

} // namespace

namespace {

// `grey` reduced so its long side is `side`; `previous` (the last pass's
// copy, empty for none) is halved instead when that gives the same size:
// halving averages the same pixels as reducing the image itself, at a
// fraction of the cost. Otherwise the image is halved by 2x2 means while it
// stays at least twice the size, and the rest (a factor below 2, where every
// pixel still has its share) is interpolated linearly: the library's area
// reduction by a factor that is no whole number costs several times both.
cv::Mat reducedTo(const cv::Mat& grey, int side, const cv::Mat& previous)
{
    const int longSide = std::max(grey.cols, grey.rows);
    if (side == longSide) return grey;
    const double factor = static_cast<double>(side) / longSide;
    // at least a pixel each way, however flat the image
    const cv::Size size(std::max(1, static_cast<int>(std::lround(grey.cols * factor))),
                        std::max(1, static_cast<int>(std::lround(grey.rows * factor))));
    cv::Mat reduced;
    if (!previous.empty() && previous.cols == 2 * size.width && previous.rows == 2 * size.height) {
        cv::resize(previous, reduced, size, 0, 0, cv::INTER_AREA);
        return reduced;
    }
    cv::Mat halved = grey;
    while (halved.cols >= 2 * size.width && halved.rows >= 2 * size.height && halved.cols >= 2 && halved.rows >= 2) {
        // An odd last row or column is left out, so the halving is exact.
        const cv::Mat even = halved(cv::Rect(0, 0, halved.cols & ~1, halved.rows & ~1));
        cv::resize(even, halved, cv::Size(even.cols / 2, even.rows / 2), 0, 0, cv::INTER_AREA);
    }
    if (halved.size() == size) return halved;
    cv::resize(halved, reduced, size, 0, 0, cv::INTER_LINEAR);
    return reduced;
}

// The block a pass thresholds with on a copy of `size`: odd, and no larger than the copy.
int blockOn(const FinderPass& pass, const cv::Size& size)
{
    return std::min(pass.blockSize, 2 * (std::min(size.width, size.height) / 2) - 1) | 1;
}

bool usable(const FinderPass& pass) { return pass.longSide > 0 && pass.blockSize >= 3; }

} // namespace

FinderImage::FinderImage(const cv::Mat& image, const std::vector<FinderPass>& passes)
{
    if (image.empty() || image.depth() != CV_8U) return;
    grey_ = greyImage(image);
    const int longSide = std::max(grey_.cols, grey_.rows);
    cv::Mat reduced;
    int reducedSide = 0;
    for (const FinderPass& pass : passes) {
        if (!usable(pass)) continue;
        const bool made = std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) {
            return level.longSide == pass.longSide && level.blockSize == pass.blockSize;
        });
        if (made) continue;
        const int side = std::min(pass.longSide, longSide);
        if (side != reducedSide) { // passes of one size share the reduction
            reduced = reducedTo(grey_, side, side < reducedSide ? reduced : cv::Mat());
            reducedSide = side;
        }
        Level level{pass.longSide, pass.blockSize, {}, {}};
        const int block = blockOn(pass, reduced.size());
        if (reduced.cols >= 3 && reduced.rows >= 3 && block >= 3) {
            level.reduced = reduced;
            level.mean = localMean(reduced, block);
        }
        levels_.push_back(level);
    }
}

FinderImage::Level FinderImage::level(const FinderPass& pass) const
{
    for (const Level& level : levels_)
        if (level.longSide == pass.longSide && level.blockSize == pass.blockSize) return level;
    Level level{pass.longSide, pass.blockSize, {}, {}};
    if (grey_.empty() || !usable(pass)) return level;
    const cv::Mat reduced = reducedTo(grey_, std::min(pass.longSide, std::max(grey_.cols, grey_.rows)), cv::Mat());
    const int block = blockOn(pass, reduced.size());
    if (reduced.cols < 3 || reduced.rows < 3 || block < 3) return level;
    level.reduced = reduced;
    level.mean = localMean(reduced, block);
    return level;
}

std::vector<CodeCandidate> findCodeCandidates(const cv::Mat& image, const FinderOptions& options)
{
    return findCodeCandidates(FinderImage(image, options.passes), options, Shade::DarkOnLight);
}

std::vector<CodeCandidate> findCodeCandidates(const FinderImage& image, const FinderOptions& options, Shade shade)
{
    std::vector<CodeCandidate> found;
    if (image.grey().empty()) return found;
    const int levels = static_cast<int>(std::floor(options.thresholdOffset));
    for (const FinderPass& pass : options.passes) {
        if (!usable(pass)) continue;
        const FinderImage::Level level = image.level(pass);
        if (level.reduced.empty()) continue;
        cv::Mat dark;
        if (levels <= 0) // a saturated difference cannot tell these apart: the library's own threshold
            dark = darkerThanSurroundings(shade == Shade::DarkOnLight ? level.reduced : cv::Mat(~level.reduced),
                                          blockOn(pass, level.reduced.size()), options.thresholdOffset);
        else if (shade == Shade::DarkOnLight)
            dark = darkerThanMean(level.reduced, level.mean, levels);
        else
            dark = lighterThanMean(level.reduced, level.mean, levels);
        const double scale = static_cast<double>(image.grey().cols) / level.reduced.cols;
        if (pass.openHubs) collectOpenHubs(dark, options, scale, found);
        if (pass.closing > 0)
            cv::morphologyEx(dark, dark, cv::MORPH_CLOSE,
                             cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(pass.closing, pass.closing)));
        collectHubs(dark, options, scale, found);
    }

    // Best first; a candidate whose centre lies within half a hub radius of a
    // better one is the same hub seen by another pass.
    std::stable_sort(found.begin(), found.end(),
                     [](const CodeCandidate& a, const CodeCandidate& b) { return a.score > b.score; });
    std::vector<CodeCandidate> merged;
    for (const CodeCandidate& candidate : found) {
        if (static_cast<int>(merged.size()) >= options.maxCandidates) break;
        const bool seen = std::any_of(merged.begin(), merged.end(), [&](const CodeCandidate& kept) {
            return cv::norm(kept.centre - candidate.centre) < 0.5 * std::max(kept.hubRadius, candidate.hubRadius);
        });
        if (seen) continue;
        merged.push_back(candidate);
    }
    logger().line(LogLevel::Debug, "findCodeCandidates: ", found.size(), " hubs, ", merged.size(), " candidates");
    return merged;
}

} // namespace orb
