#include "orb/finder/candidate_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "orb/geometry/preprocessing.h"

namespace orb {

namespace {

// The grey value below which `share` of the masked pixels lie.
double percentile(const cv::Mat& image, const cv::Mat& mask, double share)
{
    const cv::Mat gray = greyImage(image);
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::Mat histogram;
    cv::calcHist(&gray, 1, channels, mask, histogram, 1, bins, ranges);
    const double total = cv::sum(histogram)[0];
    double below = 0;
    for (int value = 0; value < 256; ++value) {
        below += histogram.at<float>(value);
        if (below >= share * total) return value;
    }
    return 255;
}

// The linear part of the map from source pixels to cut pixels, with its
// least and largest scale along any direction.
struct CutScaling {
    cv::Matx22d toCut;
    double least = 1, largest = 1;
};

// A hub at least `roundAxisRatio` round is only scaled, keeping the cut as
// the code was seen; a flatter one is stretched along its minor axis until
// round, which undoes most of a steep tilt before the chain sees the code.
CutScaling cutScaling(const CodeCandidate& candidate, const CandidateViewOptions& options)
{
    const double width = std::max(candidate.hub.size.width / 2.0, 0.5);
    const double height = std::max(candidate.hub.size.height / 2.0, 0.5);
    const double minor = std::min(width, height), major = std::max(width, height);
    if (minor / major >= options.roundAxisRatio) {
        const double scale = options.hubRadius / std::max(candidate.hubRadius, 1.0);
        return {cv::Matx22d::eye() * scale, scale, scale};
    }
    const double turn = candidate.hub.angle * CV_PI / 180;
    const cv::Matx22d rotation(std::cos(turn), -std::sin(turn), std::sin(turn), std::cos(turn));
    const cv::Matx22d stretch(options.hubRadius / width, 0, 0, options.hubRadius / height);
    return {rotation * stretch * rotation.t(), options.hubRadius / major, options.hubRadius / minor};
}

// The rectangle `area` of `image`, with the image's border repeated where
// it reaches past it.
cv::Mat replicatedCrop(const cv::Mat& image, const cv::Rect& area)
{
    const cv::Rect inside = area & cv::Rect(0, 0, image.cols, image.rows);
    if (inside == area) return image(area);
    cv::Mat crop;
    if (inside.empty()) { // wholly outside: the nearest edge pixel repeated
        const cv::Point nearest(std::clamp(area.x, 0, image.cols - 1), std::clamp(area.y, 0, image.rows - 1));
        cv::copyMakeBorder(image(cv::Rect(nearest, cv::Size(1, 1))), crop, 0, area.height - 1, 0, area.width - 1,
                           cv::BORDER_REPLICATE);
        return crop;
    }
    cv::copyMakeBorder(image(inside), crop, inside.y - area.y, area.br().y - inside.br().y, inside.x - area.x,
                       area.br().x - inside.br().x, cv::BORDER_REPLICATE);
    return crop;
}

// An enlarged round hub's cut is a plain scaling of the image: one resize, which
// costs a fraction of a general warp with the same interpolation. Cut pixel
// u lies at source pixel origin + (u + 0.5) / scale - 0.5 (the resize's own
// placement of pixel centres), the origin within half a source pixel of
// where the middle of the cut falls on the hub's centre.
struct ScaledCut {
    cv::Mat image;
    cv::Point2d origin;
};

ScaledCut scaledCut(const cv::Mat& image, const cv::Point2d& place, double scale, int side)
{
    // Margin of source pixels around the cut, so the interpolation's taps
    // see the image's own pixels rather than the crop's repeated edge.
    constexpr int kTaps = 2;
    const int skip = static_cast<int>(std::ceil(kTaps * scale)); // cut pixels over the margin
    const int across = static_cast<int>(std::ceil((skip + side) / scale)) + 2 * kTaps;
    const cv::Point2d wanted = place - cv::Point2d(side, side) / (2 * scale);
    const cv::Point corner(static_cast<int>(std::lround(wanted.x + kTaps - skip / scale)),
                           static_cast<int>(std::lround(wanted.y + kTaps - skip / scale)));
    cv::Mat crop = replicatedCrop(image, cv::Rect(corner - cv::Point(kTaps, kTaps), cv::Size(across, across)));
    if (crop.channels() == 4) cv::cvtColor(crop, crop, cv::COLOR_BGRA2BGR);
    cv::Mat scaled;
    cv::resize(crop, scaled, cv::Size(), scale, scale, scale > 1 ? cv::INTER_CUBIC : cv::INTER_LINEAR);
    return {scaled(cv::Rect(skip, skip, side, side)).clone(),
            cv::Point2d(corner) - cv::Point2d(kTaps, kTaps) + cv::Point2d(skip, skip) / scale};
}

} // namespace

CandidateView cutCandidate(const cv::Mat& image, const CodeCandidate& candidate, double discRadius,
                           const CandidateViewOptions& options)
{
    CandidateView view;
    const CutScaling scaling = cutScaling(candidate, options);
    const cv::Matx22d& toCut = scaling.toCut;
    const cv::Matx22d fromCut = toCut.inv();
    // The reduction below is made for the least scale, the interpolation
    // chosen by the largest.
    const double scale = scaling.least, largest = scaling.largest;
    // A square cut, centred on the hub, in the cut's own pixels.
    const double half = (discRadius + options.margin) * options.hubRadius;
    const int side = std::max(1, static_cast<int>(std::ceil(2 * half)));
    const cv::Point2d place(candidate.centre);
    const cv::Rect frame(0, 0, image.cols, image.rows);
    cv::Vec2d shift; // source pixel = fromCut * cut pixel + shift

    if (largest == scale && scale >= 1) {
        // Round and enlarged: the cut only scales, and what it takes of the
        // image (borders repeated) is no larger than the cut.
        const cv::Point2d reach = cv::Point2d(side, side) / (2 * scale);
        if ((cv::Rect(cv::Point(place - reach), cv::Point(place + reach)) & frame).empty()) return view;
        ScaledCut cut = scaledCut(image, place, scale, side);
        view.image = std::move(cut.image);
        shift = cv::Vec2d(cut.origin.x, cut.origin.y) + cv::Vec2d(0.5, 0.5) / scale - cv::Vec2d(0.5, 0.5);
    } else {
        // Cut pixel u lies at source pixel place + fromCut (u - middle), the
        // middle placed as a plain scaling by `scale` about the cut's corner would.
        const double middle = side / 2.0 + 0.5 * scale - 0.5;
        shift = cv::Vec2d(place.x, place.y) - fromCut * cv::Vec2d(middle, middle);

        // The part of the image under the cut, reduced first when the cut shrinks
        // it (so fine detail averages instead of aliasing): memory stays within
        // the image's and the cut's size whatever the hub's size.
        double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
        for (const double u : {0.0, 1.0})
            for (const double v : {0.0, 1.0}) {
                const cv::Vec2d corner = fromCut * cv::Vec2d((u - 0.5) * side, (v - 0.5) * side);
                left = std::min(left, place.x + corner[0]);
                right = std::max(right, place.x + corner[0]);
                top = std::min(top, place.y + corner[1]);
                bottom = std::max(bottom, place.y + corner[1]);
            }
        const cv::Rect under =
            cv::Rect(cv::Point(static_cast<int>(std::floor(left)), static_cast<int>(std::floor(top))),
                     cv::Size(static_cast<int>(std::ceil(right - left)) + 2, static_cast<int>(std::ceil(bottom - top)) + 2)) &
            frame;
        if (under.empty()) return view;
        cv::Mat source = image(under);
        if (source.channels() == 4) cv::cvtColor(source, source, cv::COLOR_BGRA2BGR);
        // Source pixels per pixel of `source`, across and down: the rounded
        // size makes the two differ a little.
        cv::Vec2d step(1, 1);
        if (scale < 1) {
            cv::Mat reduced;
            const cv::Size size(std::max(1, static_cast<int>(std::lround(under.width * scale))),
                                std::max(1, static_cast<int>(std::lround(under.height * scale))));
            cv::resize(source, reduced, size, 0, 0, cv::INTER_AREA);
            step = {static_cast<double>(under.width) / size.width, static_cast<double>(under.height) / size.height};
            source = reduced;
        }

        // Source pixel p is ((p - under) + 0.5) / step - 0.5 in `source`.
        const cv::Matx23d toReduced(fromCut(0, 0) / step[0], fromCut(0, 1) / step[0],
                                    (shift[0] - under.x + 0.5) / step[0] - 0.5, fromCut(1, 0) / step[1],
                                    fromCut(1, 1) / step[1], (shift[1] - under.y + 0.5) / step[1] - 0.5);
        cv::warpAffine(source, view.image, cv::Mat(toReduced), cv::Size(side, side),
                       cv::WARP_INVERSE_MAP | (largest > 1 ? cv::INTER_CUBIC : cv::INTER_LINEAR), cv::BORDER_REPLICATE);
    }
    view.toSource = cv::Matx23d(fromCut(0, 0), fromCut(0, 1), shift[0], fromCut(1, 0), fromCut(1, 1), shift[1]);

    const cv::Vec2d hubCentre = toCut * (cv::Vec2d(candidate.hub.center.x, candidate.hub.center.y) - cv::Vec2d(shift));
    view.hub = candidate.hub;
    view.hub.center = {static_cast<float>(hubCentre[0]), static_cast<float>(hubCentre[1])};
    if (largest > scale) // stretched round
        view.hub = cv::RotatedRect(view.hub.center, cv::Size2f(2 * options.hubRadius, 2 * options.hubRadius), 0);
    else
        view.hub.size = {static_cast<float>(candidate.hub.size.width * scale),
                         static_cast<float>(candidate.hub.size.height * scale)};

    // Light and shadow across the card: divide by the paper's brightness,
    // the local maximum over more than a module, smoothed.
    {
        const int reach = 2 * (static_cast<int>(options.hubRadius * 0.6) / 2) + 1;
        cv::Mat paper;
        cv::dilate(view.image, paper, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(reach, reach)));
        cv::blur(paper, paper, cv::Size(reach, reach));
        cv::divide(view.image, cv::max(paper, cv::Scalar::all(1)), view.image, 235.0);
    }

    // Outside the disc: the card's white, so the scene cannot pull the
    // chain's edges and zebras away from the code.
    cv::Mat disc = cv::Mat::zeros(view.image.size(), CV_8U);
    const cv::Point2f centre = view.hub.center;
    cv::circle(disc, cv::Point(cvRound(centre.x), cvRound(centre.y)), static_cast<int>(std::lround(discRadius * options.hubRadius)),
               cv::Scalar(255), cv::FILLED);
    const double white = percentile(view.image, disc, options.whitePercentile);
    cv::Mat outside;
    cv::bitwise_not(disc, outside);
    view.image.setTo(cv::Scalar::all(white), outside);
    return view;
}

} // namespace orb
