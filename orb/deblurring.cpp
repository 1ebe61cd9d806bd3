#include "orb/deblurring.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

constexpr double kHubPitches = 3.0;
// Directions the hub's edge is measured in; each sector averages the
// profiles of its rays, which keeps sensor noise out of the fit.
constexpr int kSectors = 36;
constexpr int kRaysPerSector = 8;

// The hub ellipse's radius along `angle` (image axes).
double ellipseRadius(const cv::RotatedRect& hub, double angle)
{
    const double a = hub.size.width / 2.0, b = hub.size.height / 2.0;
    const double t = angle - hub.angle * CV_PI / 180;
    return a * b / std::max(1e-9, std::hypot(b * std::cos(t), a * std::sin(t)));
}

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// A straight edge's profile across it, dark to light at 0, seen through a
// Gaussian of `sigma` and a smear `width` long across the edge.
double edgeResponse(double x, double sigma, double width)
{
    if (width < 0.05 * sigma) return normalCdf(x / sigma);
    // The Gaussian edge averaged over the smear: the normal law's
    // cumulative integrated, G(u) = u Phi(u) + phi(u).
    const auto integral = [](double u) { return u * normalCdf(u) + std::exp(-u * u / 2) / std::sqrt(2 * CV_PI); };
    return sigma / width * (integral((x + width / 2) / sigma) - integral((x - width / 2) / sigma));
}

// One sector's averaged radial profile, from the hub's centre outwards.
struct SectorProfile {
    const float* values;
    int bins;
    double binWidth; // pixels
    double pitch;    // the ring pitch along this sector, pixels
};

// How far a sector's profile is from the drawn centre seen through a blur
// whose edge response is `edge`: the mean squared residual of the best
// gain and offset (infinity when the hub does not come out lighter than
// its ring). Drawn: white from one pitch to three (times `scale`, as the
// finder's ellipse is only as exact as its threshold), black to three and
// a half, then the inner zebra's notches and the data, whose share of
// white is left free.
template <class Edge>
double profileResidual(const SectorProfile& sector, double scale, const Edge& edge)
{
    const int first = static_cast<int>(std::ceil(1.5 * sector.pitch / sector.binWidth));
    const int last = std::min(sector.bins - 1, static_cast<int>(3.9 * sector.pitch / sector.binWidth));
    if (last - first < 6) return INFINITY;
    const double unit = scale * sector.pitch;
    // Least squares of profile ~ k0 + k1 * hub + k2 * beyond.
    cv::Matx33d normal = cv::Matx33d::zeros();
    cv::Vec3d moment(0, 0, 0);
    double squares = 0;
    for (int i = first; i <= last; ++i) {
        const double r = (i + 0.5) * sector.binWidth;
        const cv::Vec3d row(1, edge(r - unit) - edge(r - kHubPitches * unit), edge(r - 3.5 * unit));
        const double y = sector.values[i];
        normal += row * row.t();
        moment += y * row;
        squares += y * y;
    }
    cv::Vec3d k;
    if (!cv::solve(normal, moment, k, cv::DECOMP_CHOLESKY) || k[1] <= 0) return INFINITY;
    return (squares - k.dot(moment)) / (last - first + 1);
}

// A sector's best Gaussian spread and hub scale, and the share of the
// profile's variance that the drawn centre explains.
struct SectorFit {
    double spread = 0;
    double scale = 1;
    double residual = INFINITY;
    double explained = 0;
};

SectorFit fitSector(const SectorProfile& sector)
{
    SectorFit best;
    for (double scale = 0.9; scale <= 1.101; scale += 0.05)
        for (int step = 0; step <= 20; ++step) {
            const double spread = std::max(0.3, step * 0.08 * sector.pitch);
            const double residual =
                profileResidual(sector, scale, [&](double x) { return edgeResponse(x, spread, 0); });
            if (residual < best.residual) best = {spread, scale, residual, 0};
        }
    if (!std::isfinite(best.residual)) return best;
    const int first = static_cast<int>(std::ceil(1.5 * sector.pitch / sector.binWidth));
    const int last = std::min(sector.bins - 1, static_cast<int>(3.9 * sector.pitch / sector.binWidth));
    const cv::Mat window(1, last - first + 1, CV_32F, const_cast<float*>(sector.values + first));
    cv::Scalar mean, deviation;
    cv::meanStdDev(window, mean, deviation);
    const double variance = deviation[0] * deviation[0];
    best.explained = variance > 0 ? 1 - best.residual / variance : 0;
    return best;
}

// Most sectors of a code's centre, however blurred, follow the drawn
// profile closely; the scene's own light and dark rarely do. Elsewhere
// nothing is measured (and nothing undone): the whole fit costs more than
// a run of the chain.
constexpr double kLeastExplained = 0.8;

// The smear's kernel: a line of `length` pixels drawn large and reduced,
// so its length need not be whole pixels; then the Gaussian.
cv::Mat blurKernel(const Blur& blur)
{
    const int reach = static_cast<int>(std::ceil(3 * blur.sigma + blur.length / 2)) + 1;
    const int side = 2 * reach + 1;
    cv::Mat kernel = cv::Mat::zeros(side, side, CV_32F);
    if (blur.length >= 1) {
        constexpr int kFine = 8;
        cv::Mat fine = cv::Mat::zeros(side * kFine, side * kFine, CV_32F);
        const cv::Point2d middle(side * kFine / 2.0, side * kFine / 2.0);
        const cv::Point2d half = blur.length * kFine / 2 * cv::Point2d(std::cos(blur.direction), std::sin(blur.direction));
        cv::line(fine, middle - half, middle + half, cv::Scalar(1), kFine, cv::LINE_AA);
        cv::resize(fine, kernel, kernel.size(), 0, 0, cv::INTER_AREA);
    } else {
        kernel.at<float>(reach, reach) = 1;
    }
    if (blur.sigma > 0.3) cv::GaussianBlur(kernel, kernel, cv::Size(side, side), blur.sigma);
    kernel /= cv::sum(kernel)[0];
    return kernel;
}

// `kernel` in an image of `size` with its centre at the origin, wrapped
// round the edges, as the discrete Fourier transform takes a filter.
cv::Mat kernelAtOrigin(const cv::Mat& kernel, cv::Size size)
{
    cv::Mat placed = cv::Mat::zeros(size, CV_32F);
    const int reach = kernel.rows / 2;
    // The four quarters around the kernel's centre go to the four corners.
    for (const int qy : {0, 1})
        for (const int qx : {0, 1}) {
            const cv::Rect from(qx ? reach : 0, qy ? reach : 0, qx ? kernel.cols - reach : reach,
                                qy ? kernel.rows - reach : reach);
            if (from.empty()) continue;
            const cv::Point to(qx ? 0 : size.width - reach, qy ? 0 : size.height - reach);
            kernel(from).copyTo(placed(cv::Rect(to, from.size())));
        }
    return placed;
}

// The code's centre as drawn, beside the cut's, at a few pixels per
// pitch: the hub's white and the zebra and data beyond three and a half
// pitches (whose share of white is unknown) as two masks, each blurred by
// a trial blur and fitted to the cut with free gain and offset.
class DrawnCentre {
public:
    DrawnCentre(const cv::Mat& greyCut, const cv::RotatedRect& hub, double scale)
    {
        const double hubRadius = std::max(hub.size.width, hub.size.height) / 2.0;
        shrink_ = std::min(1.0, kPixelsPerPitch * kHubPitches / hubRadius);
        const double half = 4.5 / kHubPitches * hubRadius;
        // The cut around the centre, reduced.
        const cv::Matx23d toPatch(shrink_, 0, shrink_ * (half - hub.center.x), 0, shrink_, shrink_ * (half - hub.center.y));
        const int side = static_cast<int>(std::ceil(2 * half * shrink_));
        cv::warpAffine(greyCut, cut_, cv::Mat(toPatch), cv::Size(side, side), cv::INTER_AREA, cv::BORDER_REPLICATE);
        cut_.convertTo(cut_, CV_32F);
        // The masks, drawn large and reduced so their edges are smooth.
        constexpr int kFine = 4;
        cv::RotatedRect ellipse = hub;
        ellipse.center = cv::Point2f(static_cast<float>(half * shrink_ * kFine), static_cast<float>(half * shrink_ * kFine));
        const auto drawn = [&](double radius) {
            cv::Mat mask = cv::Mat::zeros(side * kFine, side * kFine, CV_8U);
            cv::RotatedRect shape = ellipse;
            shape.size = cv::Size2f(static_cast<float>(hub.size.width * shrink_ * kFine * scale * radius / kHubPitches),
                                    static_cast<float>(hub.size.height * shrink_ * kFine * scale * radius / kHubPitches));
            cv::ellipse(mask, shape, cv::Scalar(255), cv::FILLED);
            cv::Mat reduced;
            cv::resize(mask, reduced, cv::Size(side, side), 0, 0, cv::INTER_AREA);
            reduced.convertTo(reduced, CV_32F, 1.0 / 255);
            return reduced;
        };
        hubWhite_ = drawn(kHubPitches) - drawn(1);
        beyond_ = 1 - drawn(3.5);
        // Compared inside 3.8 pitches: the data's own edges stay out.
        compared_ = drawn(3.8);
    }

    // The drawn masks smeared by a line `length` cut pixels long: every
    // Gaussian tried with that smear starts from them, and the Gaussian
    // then costs a separable filter instead of a full kernel's.
    struct Smeared {
        cv::Mat hub, beyond;
    };
    Smeared smeared(double length, double direction) const
    {
        if (length * shrink_ < 1) return {hubWhite_, beyond_};
        const cv::Mat line = blurKernel({0, length * shrink_, direction});
        Smeared masks;
        cv::filter2D(hubWhite_, masks.hub, CV_32F, line, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        cv::filter2D(beyond_, masks.beyond, CV_32F, line, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        return masks;
    }

    // The fit of the masks smeared so, blurred by a Gaussian of `sigma` cut pixels.
    double residual(const Smeared& masks, double sigma) const
    {
        // Blurred into new images: the masks serve the next Gaussian too.
        cv::Mat hub, beyond;
        if (const double reduced = sigma * shrink_; reduced > 0.3) {
            cv::GaussianBlur(masks.hub, hub, cv::Size(), reduced, reduced, cv::BORDER_REPLICATE);
            cv::GaussianBlur(masks.beyond, beyond, cv::Size(), reduced, reduced, cv::BORDER_REPLICATE);
        } else {
            hub = masks.hub;
            beyond = masks.beyond;
        }
        // Weighted least squares of cut ~ k0 + k1 hub + k2 beyond.
        const cv::Mat parts[] = {cv::Mat::ones(cut_.size(), CV_32F), hub, beyond};
        cv::Matx33d normal;
        cv::Vec3d moment;
        for (int i = 0; i < 3; ++i) {
            const cv::Mat weighted = parts[i].mul(compared_);
            moment[i] = weighted.dot(cut_);
            for (int j = 0; j < 3; ++j) normal(i, j) = weighted.dot(parts[j]);
        }
        cv::Vec3d k;
        if (!cv::solve(normal, moment, k, cv::DECOMP_CHOLESKY) || k[1] <= 0) return INFINITY;
        // Per compared pixel, so centres drawn at other sizes compare.
        return (cut_.mul(compared_).dot(cut_) - k.dot(moment)) / std::max(1.0, cv::sum(compared_)[0]);
    }

private:
    static constexpr double kPixelsPerPitch = 4;
    double shrink_ = 1;
    cv::Mat cut_, hubWhite_, beyond_, compared_;
};

// A hub ratio of axes below this may be a smear's doing as well as a tilt's.
constexpr double kStretchedHub = 0.95;
// A shorter hub stands for the outline only smeared at least this many
// pitches, and fitting clearly better.
constexpr double kLeastSmear = 0.5;
constexpr double kClearlyBetter = 0.95;

struct CentreFit {
    Blur blur;
    cv::RotatedRect hub;
    double residual = INFINITY;
};

// The blur that best turns `hub`'s drawn centre into the cut's, with the
// smear along one of `directions` (and at least `leastLength` pitches
// long); trial sizes in `pitch`es.
CentreFit fitCentre(const cv::Mat& greyCut, const cv::RotatedRect& hub, double pitch, const std::vector<double>& directions,
                    double leastLength = 0)
{
    // At the hub's scale as found: under a wide blur a narrower blur of a
    // smaller hub fits each sector about as well, so the sectors' scale
    // shrinks with the blur and the fit here would follow it.
    const DrawnCentre centre(greyCut, hub, 1.0);
    CentreFit best{{}, hub, INFINITY};
    // Each smear once, with every Gaussian tried on it.
    const auto trySmear = [&](double length, double direction, const auto& sigmas) {
        if (length < leastLength) return;
        const DrawnCentre::Smeared masks = centre.smeared(length * pitch, direction);
        for (const double sigma : sigmas) {
            if (sigma < 0) continue;
            const double residual = centre.residual(masks, sigma * pitch);
            if (residual < best.residual) best = {{sigma * pitch, length * pitch, direction}, hub, residual};
        }
    };
    // Coarse first, then finer around the best.
    for (std::size_t d = 0; d < directions.size(); ++d)
        for (const double length : {0.0, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5})
            if (length > 0 || d == 0) trySmear(length, directions[d], std::array{0.0, 0.15, 0.3, 0.45, 0.6, 0.75});
    const Blur coarse = best.blur;
    const double s = coarse.sigma / pitch;
    for (const double dd : {-CV_PI / 24, 0.0, CV_PI / 24})
        for (const double dl : {-0.5, -0.25, 0.0, 0.25, 0.5})
            trySmear(coarse.length / pitch + dl, coarse.direction + dd, std::array{s - 0.1, s - 0.05, s, s + 0.05, s + 0.1});
    return best;
}

} // namespace

double Blur::spreadAlong(double angle) const
{
    const double along = length * std::cos(angle - direction);
    return std::sqrt(sigma * sigma + along * along / 12);
}

Blur measuredBlur(const cv::Mat& greyCut, const cv::RotatedRect& hub) { return measuredCentreBlur(greyCut, hub).blur; }

CentreBlur measuredCentreBlur(const cv::Mat& greyCut, const cv::RotatedRect& hub)
{
    CV_Assert(greyCut.type() == CV_8UC1);
    Blur blur;
    const double hubRadius = std::max(hub.size.width, hub.size.height) / 2.0;
    if (hubRadius < 6) return {blur, hub};
    const double reach = 4.0 / kHubPitches * hubRadius;
    const int bins = static_cast<int>(std::ceil(reach));
    cv::Mat polar, averaged;
    cv::warpPolar(greyCut, polar, cv::Size(bins, kSectors * kRaysPerSector), hub.center, reach,
                  cv::INTER_LINEAR + cv::WARP_FILL_OUTLIERS);
    polar.convertTo(polar, CV_32F);
    cv::resize(polar, averaged, cv::Size(bins, kSectors), 0, 0, cv::INTER_AREA);

    // First each sector on its own, as if the blur were a Gaussian: its
    // spread squared is sigma^2 + (length cos)^2 / 12, so the directions
    // it varies with give the smear's direction.
    std::vector<double> angles;
    std::vector<SectorProfile> sectors;
    std::vector<SectorFit> fits;
    for (int s = 0; s < kSectors; ++s) {
        const double angle = (s + 0.5) * 2 * CV_PI / kSectors;
        const SectorProfile sector{averaged.ptr<float>(s), bins, reach / bins, ellipseRadius(hub, angle) / kHubPitches};
        const SectorFit fit = fitSector(sector);
        if (!std::isfinite(fit.residual) || fit.explained < kLeastExplained) continue;
        angles.push_back(angle);
        sectors.push_back(sector);
        fits.push_back(fit);
    }
    if (angles.size() < 2 * kSectors / 3) return {blur, hub};
    // spread^2 = a + b cos 2θ + c sin 2θ, by least squares.
    const int n = static_cast<int>(angles.size());
    cv::Mat design(n, 3, CV_64F), values(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        design.at<double>(i, 0) = 1;
        design.at<double>(i, 1) = std::cos(2 * angles[i]);
        design.at<double>(i, 2) = std::sin(2 * angles[i]);
        values.at<double>(i) = fits[i].spread * fits[i].spread;
    }
    cv::Mat k;
    cv::solve(design, values, k, cv::DECOMP_SVD);
    blur.direction = 0.5 * std::atan2(k.at<double>(2), k.at<double>(1));

    // Then the Gaussian and the smear together, along that direction, on
    // the centre as a whole: a long smear drags the dot across the hub,
    // which no profile along one direction describes.
    const double pitch = hubRadius / kHubPitches;
    std::vector<double> directions;
    for (int d = 0; d < 12; ++d) directions.push_back(d * CV_PI / 12);
    directions.push_back(blur.direction);
    CentreFit best = fitCentre(greyCut, hub, pitch, directions);
    // A smear lengthens the hub the finder outlines along itself: the same
    // centre a little shorter along its long axis, smeared along it, may
    // fit better than the outline as the shape of a tilted code.
    const double longAxis = std::max(hub.size.width, hub.size.height), shortAxis = std::min(hub.size.width, hub.size.height);
    if (shortAxis < kStretchedHub * longAxis) {
        const double along = (hub.size.width >= hub.size.height ? hub.angle : hub.angle + 90) * CV_PI / 180;
        for (const double share : {0.5, 1.0}) {
            cv::RotatedRect shorter = hub;
            const float length = static_cast<float>(longAxis - share * (longAxis - shortAxis));
            (hub.size.width >= hub.size.height ? shorter.size.width : shorter.size.height) = length;
            // Only a smear stretches the outline (a defocus widens it evenly),
            const CentreFit fit =
                fitCentre(greyCut, shorter, pitch, {along - CV_PI / 12, along, along + CV_PI / 12}, kLeastSmear);
            // and a blur mostly defocus leaves the outline's shape to the tilt.
            const bool mostlySmear = fit.blur.length * fit.blur.length / 12 >= fit.blur.sigma * fit.blur.sigma;
            if (mostlySmear && fit.residual < kClearlyBetter * best.residual) best = fit;
        }
    }
    return {best.blur, best.hub};
}

cv::Mat deblurred(const cv::Mat& grey, const Blur& blur, double noiseShare)
{
    return BlurRemoval(grey, blur).without(blur, noiseShare);
}

BlurRemoval::BlurRemoval(const cv::Mat& grey, const Blur& widest) : size_(grey.size())
{
    CV_Assert(grey.type() == CV_8UC1);
    const cv::Mat kernel = blurKernel(widest);
    // Padded to a size the transform is fast at; the border repeated, as
    // the cut's own border is the card's even white.
    const cv::Size size(cv::getOptimalDFTSize(grey.cols + kernel.cols), cv::getOptimalDFTSize(grey.rows + kernel.rows));
    cv::Mat padded;
    cv::copyMakeBorder(grey, padded, 0, size.height - grey.rows, 0, size.width - grey.cols, cv::BORDER_REPLICATE);
    padded.convertTo(padded, CV_32F);
    cv::dft(padded, spectrum_, cv::DFT_COMPLEX_OUTPUT);
}

cv::Mat BlurRemoval::without(const Blur& blur, double noiseShare) const
{
    const cv::Mat kernel = blurKernel(blur);
    CV_Assert(kernel.cols < spectrum_.cols && kernel.rows < spectrum_.rows);
    cv::Mat filter;
    cv::dft(kernelAtOrigin(kernel, spectrum_.size()), filter, cv::DFT_COMPLEX_OUTPUT);
    // X = G conj(H) / (|H|^2 + noise share)
    cv::Mat numerator, power;
    cv::mulSpectrums(spectrum_, filter, numerator, 0, true);
    cv::mulSpectrums(filter, filter, power, 0, true);
    cv::Mat planes[2];
    cv::split(power, planes);
    const cv::Mat denominator = planes[0] + noiseShare;
    cv::split(numerator, planes);
    cv::divide(planes[0], denominator, planes[0]);
    cv::divide(planes[1], denominator, planes[1]);
    cv::merge(planes, 2, numerator);

    cv::Mat restored;
    cv::idft(numerator, restored, cv::DFT_SCALE | cv::DFT_REAL_OUTPUT);
    cv::Mat result;
    restored(cv::Rect(cv::Point(), size_)).convertTo(result, CV_8U);
    return result;
}

} // namespace orb
