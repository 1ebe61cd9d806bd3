#include "orb/geometry/preprocessing.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <atomic>
#include <cfloat>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "orb/decoder_configuration.h"
#include "orb/result_code.h"

namespace orb {

namespace {

constexpr int kBins = 256;
using ChannelHistograms = std::vector<std::array<std::atomic<int>, kBins>>;

// One histogram per channel. Each stripe counts into its own local table and
// adds it to the shared one with atomic increments, so the counts are exact
// whatever the number of workers.
void countHistograms(const cv::Mat& image, ChannelHistograms& histograms)
{
    const int channels = image.channels();
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        std::vector<std::array<int, kBins>> local(channels);
        for (auto& h : local) h.fill(0);
        for (int y = rows.start; y < rows.end; ++y) {
            const std::uint8_t* p = image.ptr<std::uint8_t>(y);
            for (int x = 0; x < image.cols; ++x)
                for (int c = 0; c < channels; ++c) ++local[c][*p++];
        }
        for (int c = 0; c < channels; ++c)
            for (int b = 0; b < kBins; ++b)
                if (local[c][b] != 0) histograms[c][b].fetch_add(local[c][b], std::memory_order_relaxed);
    });
}

} // namespace

cv::Mat enhanceImage(const cv::Mat& image, int codeType)
{
    // The colour stretch needs the whole image's histogram first; the grey
    // stretch is per pixel and is done band by band below.
    const cv::Mat stretched = codeType == Color ? contrastAdjustment(image, 0.001f) : image;
    const auto stretch = [codeType](const cv::Mat& rows) {
        if (codeType == Color) return rows;
        cv::Mat out;
        rows.convertTo(out, -1, 2.5, -120); // 48 and below -> 0, 150 and above -> 255
        return out;
    };

    // The median filter runs on one core: the image is smoothed in bands
    // side by side. Each band is computed with the rows its filters reach
    // beyond it (1 for the median, 2 for the Gaussian), so its rows come
    // out as the whole image's would; at the image's own edges the bands
    // end where the image does, and the filters' borders are the same.
    constexpr int kMedianReach = 1;
    constexpr int kGaussianReach = 2;
    constexpr int kMinBandRows = 64;
    cv::Mat result(stretched.size(), stretched.type());
    const int bands = std::clamp(std::min(cv::getNumThreads(), stretched.rows / kMinBandRows), 1, stretched.rows);
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int band = range.start; band < range.end; ++band) {
            const int top = stretched.rows * band / bands;
            const int bottom = stretched.rows * (band + 1) / bands;
            const int gaussianTop = std::max(0, top - kGaussianReach);
            const int gaussianBottom = std::min(stretched.rows, bottom + kGaussianReach);
            const int medianTop = std::max(0, gaussianTop - kMedianReach);
            const int medianBottom = std::min(stretched.rows, gaussianBottom + kMedianReach);
            cv::Mat median;
            cv::medianBlur(stretch(stretched.rowRange(medianTop, medianBottom)), median, 3);
            // Isolated, so the filter never reads the rows it must not rely on.
            cv::Mat smoothed;
            cv::GaussianBlur(median.rowRange(gaussianTop - medianTop, gaussianBottom - medianTop), smoothed,
                             cv::Size(5, 5), 0, 0, cv::BORDER_DEFAULT | cv::BORDER_ISOLATED);
            smoothed.rowRange(top - gaussianTop, bottom - gaussianTop).copyTo(result.rowRange(top, bottom));
        }
    });
    return result;
}

cv::Mat binarizeImage(const cv::Mat& image, int codeType)
{
    const cv::Mat binary = codeType == Color ? binarizeColorMode(image) : otsuBinarize(image, -1);
    // Opening removes white specks and breaks one-pixel bridges between white regions.
    cv::Mat result;
    cv::morphologyEx(binary, result, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)),
                     cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    return result;
}

GreyHistogram greyHistogram(const cv::Mat& grey)
{
    CV_Assert(grey.type() == CV_8UC1);
    std::array<std::atomic<int>, kBins> shared{}; // atomics start at zero
    cv::parallel_for_(cv::Range(0, grey.rows), [&](const cv::Range& rows) {
        // Four tables, so a run of equal pixels does not wait on the count
        // it has just written.
        std::array<std::array<int, kBins>, 4> local{};
        for (int y = rows.start; y < rows.end; ++y) {
            const std::uint8_t* p = grey.ptr<std::uint8_t>(y);
            int x = 0;
            for (; x + 4 <= grey.cols; x += 4) {
                ++local[0][p[x]];
                ++local[1][p[x + 1]];
                ++local[2][p[x + 2]];
                ++local[3][p[x + 3]];
            }
            for (; x < grey.cols; ++x) ++local[0][p[x]];
        }
        for (int b = 0; b < kBins; ++b) {
            const int count = local[0][b] + local[1][b] + local[2][b] + local[3][b];
            if (count != 0) shared[b].fetch_add(count, std::memory_order_relaxed);
        }
    });
    GreyHistogram histogram{};
    for (int b = 0; b < kBins; ++b) histogram[b] = shared[b].load(std::memory_order_relaxed);
    return histogram;
}

int otsuThreshold(const GreyHistogram& histogram)
{
    // Otsu's method: the level that maximises the between-class variance,
    // the first of equals; levels that leave a class (almost) empty are
    // passed over. The order of operations is the library's, so the
    // level is the one cv::threshold picks.
    long long total = 0;
    for (int count : histogram) total += count;
    if (total == 0) return 0;
    const double scale = 1.0 / static_cast<double>(total);
    double mu = 0;
    for (int i = 0; i < kBins; ++i) mu += i * static_cast<double>(histogram[i]);
    mu *= scale;
    double mu1 = 0, q1 = 0, maxSigma = 0;
    int level = 0;
    for (int i = 0; i < kBins; ++i) {
        const double p = histogram[i] * scale;
        mu1 *= q1;
        q1 += p;
        const double q2 = 1.0 - q1;
        if (std::min(q1, q2) < FLT_EPSILON || std::max(q1, q2) > 1.0 - FLT_EPSILON) continue;
        mu1 = (mu1 + i * p) / q1;
        const double mu2 = (mu - q1 * mu1) / q2;
        const double sigma = q1 * q2 * (mu1 - mu2) * (mu1 - mu2);
        if (sigma > maxSigma) {
            maxSigma = sigma;
            level = i;
        }
    }
    return level;
}

cv::Mat greyImage(const cv::Mat& image)
{
    if (image.channels() == 1) return image;
    cv::Mat grey;
    cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

cv::Mat otsuBinarize(const cv::Mat& image, double threshold)
{
    const cv::Mat gray = greyImage(image);
    // The library counts Otsu's histogram on one core; on a large image it
    // is counted here on all of them, and the level applied as a fixed
    // threshold. A small image costs less than waking the other cores.
    constexpr int kParallelHistogramPixels = 640 * 480;
    cv::Mat result;
    if (threshold == -1 && gray.total() < kParallelHistogramPixels) {
        cv::threshold(gray, result, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        return result;
    }
    if (threshold == -1) threshold = otsuThreshold(greyHistogram(gray));
    cv::threshold(gray, result, threshold, 255, cv::THRESH_BINARY);
    return result;
}

cv::Mat binarizeColorMode(const cv::Mat& image)
{
    if (image.type() != CV_8UC3)
        throw OCException(InvalidConfiguration, "colour binarisation needs an 8-bit three-channel image");
    const cv::Mat gray = greyImage(image);
    cv::Mat result;
    const double t = cv::threshold(gray, result, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    // A pixel is white as soon as one channel is brighter than the gray threshold,
    // so coloured modules come out white like white ones.
    result.forEach<std::uint8_t>([&](std::uint8_t& out, const int* pos) {
        const cv::Vec3b& px = image.at<cv::Vec3b>(pos[0], pos[1]);
        out = (px[0] > t || px[1] > t || px[2] > t) ? 255 : 0;
    });
    return result;
}

cv::Mat contrastAdjustment(const cv::Mat& image, float fraction)
{
    if (image.depth() != CV_8U) throw OCException(InvalidConfiguration, "contrast adjustment needs an 8-bit image");
    const int channels = image.channels();
    const int n = static_cast<int>(static_cast<float>(image.cols) * static_cast<float>(image.rows) * fraction);

    std::vector<std::uint8_t> low(channels, 0);
    std::vector<std::uint8_t> range(channels, 255);
    if (n > 0) {
        ChannelHistograms histograms(channels); // atomics start at zero
        countHistograms(image, histograms);
        for (int c = 0; c < channels; ++c) {
            // Clip n pixels at each end; the bounds end one step past the bin
            // where the running sum reached n.
            long long sum = 0;
            int lo = 0;
            while (sum < n && lo < kBins) sum += histograms[c][lo++].load(std::memory_order_relaxed);
            sum = 0;
            int hi = kBins - 1;
            while (sum < n && hi >= 0) sum += histograms[c][hi--].load(std::memory_order_relaxed);
            low[c] = static_cast<std::uint8_t>(lo);
            range[c] = static_cast<std::uint8_t>(hi - lo);
        }
    }

    cv::Mat result = image.clone();
    cv::parallel_for_(cv::Range(0, result.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            std::uint8_t* p = result.ptr<std::uint8_t>(y);
            for (int x = 0; x < result.cols; ++x) {
                for (int c = 0; c < channels; ++c, ++p) {
                    // A range of 0 has no defined stretch; such a channel stays as it is.
                    if (range[c] == 0) continue;
                    const std::int32_t v = ((static_cast<std::int32_t>(*p) - low[c]) * 255) / range[c];
                    *p = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
                }
            }
        }
    });
    return result;
}

cv::Mat shrunkBy(const cv::Mat& image, double scale)
{
    // At least a pixel each way: a scale alone rounds a thin strip to nothing.
    const cv::Size size(std::max(1, static_cast<int>(std::lround(image.cols * scale))),
                        std::max(1, static_cast<int>(std::lround(image.rows * scale))));
    cv::Mat reduced;
    cv::resize(image, reduced, size, 0, 0, cv::INTER_AREA);
    return reduced;
}

cv::Mat evenPaperLight(const cv::Mat& grey, int longSide, int reach)
{
    CV_Assert(grey.type() == CV_8UC1 && longSide > 0 && reach > 0);
    if (grey.empty()) return grey.clone();
    const double scale = std::min(1.0, static_cast<double>(longSide) / std::max(grey.cols, grey.rows));
    cv::Mat reduced = grey, paper;
    if (scale < 1) reduced = shrunkBy(grey, scale);
    const int size = reach | 1;
    cv::morphologyEx(reduced, paper, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(size, size)),
                     cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    // The closing's corners and flats, softened over a few pixels only: a
    // wide smoothing would bring the band back.
    cv::GaussianBlur(paper, paper, cv::Size(), 1.5);
    if (scale < 1) cv::resize(paper, paper, grey.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat even;
    cv::divide(grey, cv::max(paper, cv::Scalar::all(1)), even, 235.0);
    return even;
}

} // namespace orb
