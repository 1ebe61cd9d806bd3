#include "orb/finder/code_finder.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/finder/local_threshold.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"

namespace orb {

namespace {

// Largest hub radius as a share of the image's short side.
constexpr double kLargestHubShare = 0.4;

// The hubs of one binarised image, in its own pixels.
void collectHubs(const cv::Mat& dark, const FinderOptions& options, double scale, std::vector<CodeCandidate>& found)
{
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy; // next, previous, first child, parent
    cv::findContours(dark, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    // Nesting depth: outer borders of dark regions are even, holes odd.
    std::vector<int> depth(contours.size(), -1);
    const auto depthOf = [&](int i) {
        int steps = 0;
        int at = i;
        while (at >= 0 && depth[at] < 0) {
            at = hierarchy[at][3];
            ++steps;
        }
        const int base = at < 0 ? -1 : depth[at];
        for (int k = steps, j = i; k > 0; --k, j = hierarchy[j][3]) depth[j] = base + k;
        return depth[i];
    };
    for (std::size_t i = 0; i < contours.size(); ++i) {
        // A hole holding something: the white hub around the dot.
        if (hierarchy[i][2] < 0 || depthOf(static_cast<int>(i)) % 2 == 0) continue;
        const double hubArea = cv::contourArea(contours[i]);
        if (hubArea < options.minHubArea || contours[i].size() < 5) continue;

        int dot = -1;
        int dots = 0;
        for (int child = hierarchy[i][2]; child >= 0; child = hierarchy[child][0]) {
            // Specks of noise and compression are no dot.
            if (cv::contourArea(contours[child]) < options.speckShare * hubArea) continue;
            dot = child;
            ++dots;
        }
        if (dots != 1) continue;
        const double dotArea = cv::contourArea(contours[dot]);
        const double share = dotArea / hubArea;
        if (share < options.minDotShare || share > options.maxDotShare) continue;

        const cv::RotatedRect hub = cv::fitEllipse(contours[i]);
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
        const cv::Moments m = cv::moments(contours[dot]);
        if (m.m00 <= 0) continue;
        const cv::Point2d dotCentre(m.m10 / m.m00, m.m01 / m.m00);
        const double offset = cv::norm(dotCentre - cv::Point2d(hub.center)) / radius;
        if (offset > options.maxDotOffset) continue;

        // Back to the caller's pixels (pixel centres as the resize placed them).
        CodeCandidate candidate;
        candidate.hub = hub;
        candidate.hub.center = {static_cast<float>((hub.center.x + 0.5) * scale - 0.5),
                                static_cast<float>((hub.center.y + 0.5) * scale - 0.5)};
        candidate.hub.size = {static_cast<float>(hub.size.width * scale), static_cast<float>(hub.size.height * scale)};
        candidate.centre = candidate.hub.center;
        candidate.hubRadius = radius * scale;
        candidate.maxCodeRadius = kMaxCodeRadiusInHubs * candidate.hubRadius;
        // Best: a hub that is a clean ellipse with the dot in its middle.
        candidate.score = std::clamp(1.0 - std::abs(1.0 - fill) - offset, 0.0, 1.0);
        found.push_back(candidate);
    }
}

} // namespace

std::vector<CodeCandidate> findCodeCandidates(const cv::Mat& image, const FinderOptions& options)
{
    std::vector<CodeCandidate> found;
    if (image.empty() || image.depth() != CV_8U) return found;
    const cv::Mat gray = greyImage(image);
    const int longSide = std::max(gray.cols, gray.rows);

    cv::Mat reduced;
    int reducedSide = 0;
    for (const FinderPass& pass : options.passes) {
        if (pass.longSide <= 0 || pass.blockSize < 3) continue;
        const int side = std::min(pass.longSide, longSide);
        if (side != reducedSide) { // passes of one size share the reduction
            const double factor = static_cast<double>(side) / longSide;
            if (side == longSide) reduced = gray;
            else // at least a pixel each way, however flat the image
                cv::resize(gray, reduced,
                           cv::Size(std::max(1, static_cast<int>(std::lround(gray.cols * factor))),
                                    std::max(1, static_cast<int>(std::lround(gray.rows * factor)))),
                           0, 0, cv::INTER_AREA);
            reducedSide = side;
        }
        if (reduced.cols < 3 || reduced.rows < 3) continue;
        const int block = std::min(pass.blockSize, 2 * (std::min(reduced.cols, reduced.rows) / 2) - 1) | 1;
        if (block < 3) continue;
        const cv::Mat dark = darkerThanSurroundings(reduced, block, options.thresholdOffset);
        const double scale = static_cast<double>(gray.cols) / reduced.cols;
        collectHubs(dark, options, scale, found);
    }

    // Best first; a candidate whose centre lies within half a hub radius of a
    // better one is the same hub seen by another pass.
    std::stable_sort(found.begin(), found.end(),
                     [](const CodeCandidate& a, const CodeCandidate& b) { return a.score > b.score; });
    std::vector<CodeCandidate> merged;
    for (const CodeCandidate& candidate : found) {
        const bool seen = std::any_of(merged.begin(), merged.end(), [&](const CodeCandidate& kept) {
            return cv::norm(kept.centre - candidate.centre) < 0.5 * std::max(kept.hubRadius, candidate.hubRadius);
        });
        if (seen) continue;
        merged.push_back(candidate);
        if (static_cast<int>(merged.size()) >= options.maxCandidates) break;
    }
    logger().line(LogLevel::Debug, "findCodeCandidates: ", found.size(), " hubs, ", merged.size(), " candidates");
    return merged;
}

} // namespace orb
