#include "orb/finder/candidate_view.h"

#include <algorithm>
#include <cmath>

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

} // namespace

CandidateView cutCandidate(const cv::Mat& image, const CodeCandidate& candidate, double discRadius,
                           const CandidateViewOptions& options)
{
    CandidateView view;
    const double hub = std::max(candidate.hubRadius, 1.0);
    const double scale = options.hubRadius / hub;
    // A square cut, centred on the hub, in the cut's own pixels.
    const double half = (discRadius + options.margin) * options.hubRadius;
    const int side = std::max(1, static_cast<int>(std::ceil(2 * half)));
    const cv::Point2d origin(candidate.centre.x - (side / 2.0) / scale, candidate.centre.y - (side / 2.0) / scale);

    // The part of the image under the cut, reduced first when the cut shrinks
    // it (so fine detail averages instead of aliasing): memory stays within
    // the image's and the cut's size whatever the hub's size.
    const cv::Rect under = cv::Rect(cv::Point(static_cast<int>(std::floor(origin.x)), static_cast<int>(std::floor(origin.y))),
                                    cv::Size(static_cast<int>(std::ceil(side / scale)) + 2,
                                             static_cast<int>(std::ceil(side / scale)) + 2)) &
                           cv::Rect(0, 0, image.cols, image.rows);
    if (under.empty()) return view;
    cv::Mat source = image(under);
    if (source.channels() == 4) cv::cvtColor(source, source, cv::COLOR_BGRA2BGR);
    double step = 1; // source pixels per pixel of `source`
    if (scale < 1) {
        cv::Mat reduced;
        const cv::Size size(std::max(1, static_cast<int>(std::lround(under.width * scale))),
                            std::max(1, static_cast<int>(std::lround(under.height * scale))));
        cv::resize(source, reduced, size, 0, 0, cv::INTER_AREA);
        step = static_cast<double>(under.width) / size.width;
        source = reduced;
    }

    // Cut pixel u lies at source pixel origin + (u + 0.5) / scale - 0.5,
    // which is ((that - under) + 0.5) / step - 0.5 in `source`.
    view.toSource = cv::Matx23d(1 / scale, 0, origin.x + 0.5 / scale - 0.5, 0, 1 / scale, origin.y + 0.5 / scale - 0.5);
    const cv::Matx23d toReduced(1 / (scale * step), 0, (origin.x - under.x + 0.5 / scale) / step - 0.5, 0,
                                1 / (scale * step), (origin.y - under.y + 0.5 / scale) / step - 0.5);
    cv::warpAffine(source, view.image, cv::Mat(toReduced), cv::Size(side, side),
                   cv::WARP_INVERSE_MAP | (scale > 1 ? cv::INTER_CUBIC : cv::INTER_LINEAR), cv::BORDER_REPLICATE);

    view.hub = candidate.hub;
    view.hub.center = {static_cast<float>((candidate.hub.center.x - origin.x + 0.5) * scale - 0.5),
                       static_cast<float>((candidate.hub.center.y - origin.y + 0.5) * scale - 0.5)};
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
