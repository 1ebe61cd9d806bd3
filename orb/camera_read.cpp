#include "orb/camera_read.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

// The hub is three ring pitches across its radius.
constexpr double kHubPitches = 3.0;
// The measure on a blurred hub comes out wider than the blur (the hub's
// own edges are soft in print and in the lens), and undoing too much
// rings where too little only leaves some softness: the blur is undone
// as measured, then narrowed by these.
constexpr double kNarrowings[] = {0.8, 0.65};

// An odd block size of about `pixels`, at least 3.
int oddSize(double pixels)
{
    const int size = std::max(3, static_cast<int>(std::lround(pixels)));
    return size | 1;
}

// Each pixel against the mean of its neighbourhood, two pitches across:
// wide enough to hold dark and light modules, narrow enough that a shadow
// edge or the rim of a glare patch moves the level with it. The offset
// keeps even paper white where the neighbourhood is all one shade.
cv::Mat levelledLight(const cv::Mat& grey, double pitch)
{
    cv::Mat binary;
    const int block = oddSize(2 * pitch);
    // The offset follows the local contrast only loosely: a few grey levels
    // suffice for noise, and a shadow leaves a quarter of the light.
    constexpr double kOffset = 4;
    cv::adaptiveThreshold(grey, binary, 255, cv::ADAPTIVE_THRESH_GAUSSIAN_C, cv::THRESH_BINARY, block, kOffset);
    return binary;
}

// An unsharp mask at a quarter pitch: restores the module edges and the
// inner zebra's notches (half a pitch) that blur wore away.
cv::Mat sharpened(const cv::Mat& grey, double pitch)
{
    cv::Mat blurred, result;
    cv::GaussianBlur(grey, blurred, cv::Size(), std::max(1.0, 0.35 * pitch));
    constexpr double kAmount = 2.0;
    cv::addWeighted(grey, 1 + kAmount, blurred, -kAmount, 0, result);
    return result;
}

// Grid reading calls a module dark below a fixed grey level, about 100 of
// the cut's paper white at 235 once the chain has stretched its contrast:
// well below the middle of ink and paper. A blurred dark module between
// light ones keeps only part of its darkness and would read light; moving
// the middle between the hub's white and its ring's black to that level
// reads it as near to dark as to light.
cv::Mat centredOnSampleLevel(const cv::Mat& grey, const cv::RotatedRect& hub)
{
    constexpr double kSampleLevel = 99, kPaper = 235;
    const auto annulusMean = [&](double inner, double outer) {
        cv::Mat mask = cv::Mat::zeros(grey.size(), CV_8U);
        cv::RotatedRect ring = hub;
        ring.size = cv::Size2f(static_cast<float>(hub.size.width * outer), static_cast<float>(hub.size.height * outer));
        cv::ellipse(mask, ring, cv::Scalar(255), cv::FILLED);
        ring.size = cv::Size2f(static_cast<float>(hub.size.width * inner), static_cast<float>(hub.size.height * inner));
        cv::ellipse(mask, ring, cv::Scalar(0), cv::FILLED);
        return cv::mean(grey, mask)[0];
    };
    // Within the hub's white, away from the dot; within the black ring.
    const double white = annulusMean(0.5, 0.85), black = annulusMean(1.03, 1.13);
    const double middle = (white + black) / 2;
    if (white - black < 20) return grey;
    cv::Mat result;
    const double gain = (kPaper - kSampleLevel) / (white - middle);
    grey.convertTo(result, CV_8U, gain, kSampleLevel - gain * middle);
    return result;
}

// The inverse filter's noise share for `blur`. A Gaussian's response
// falls smoothly, so a faint share lifts fine detail far; a smear's has
// zeros, around which a faint share lifts noise and the compression's
// blocks instead. Between the two, by the smear's part of the spread.
double noiseShare(const Blur& blur)
{
    constexpr double kDefocus = 4e-5, kMotion = 0.03;
    const double smear = blur.length * blur.length / 12, spread = blur.sigma * blur.sigma + smear;
    const double share = spread > 0 ? smear / spread : 0;
    return std::exp(std::log(kDefocus) * (1 - share) + std::log(kMotion) * share);
}

} // namespace

std::vector<CameraView> cameraViews(const cv::Mat& greyCut, const cv::RotatedRect& hub, const CentreBlur& centre)
{
    CV_Assert(greyCut.type() == CV_8UC1);
    const double pitch = (hub.size.width + hub.size.height) / 4 / kHubPitches;
    const cv::Mat sharp = sharpened(greyCut, pitch);
    std::vector<CameraView> views = {{CameraRepair::LevelledLight, levelledLight(greyCut, pitch), hub},
                                     {CameraRepair::Sharpened, sharp, hub},
                                     {CameraRepair::SharpenedAndLevelled, levelledLight(sharp, pitch), hub}};
    // Less blur than this the unsharp mask restores, and undoing it
    // would only cost a run of the chain.
    constexpr double kLeastBlur = 0.25;
    const Blur& blur = centre.blur;
    const double spread = std::max(blur.spreadAlong(blur.direction), blur.sigma);
    if (spread < kLeastBlur * pitch) return views;
    // The measured hub's shape, about this cut's centre (each disc's cut
    // has the hub at a place of its own).
    cv::RotatedRect drawnHub = centre.hub.size.area() > 0 ? centre.hub : hub;
    drawnHub.center = hub.center;
    // The narrower trials below are no wider than this one.
    const BlurRemoval removal(greyCut, blur);
    const auto undone = [&](const Blur& trial) {
        return centredOnSampleLevel(removal.without(trial, noiseShare(trial)), drawnHub);
    };
    const cv::Mat restored = undone(blur);
    views.push_back({CameraRepair::Deblurred, restored, drawnHub});
    views.push_back({CameraRepair::DeblurredAndLevelled, levelledLight(restored, pitch), drawnHub});
    for (const CameraRepair repair : {CameraRepair::DeblurredNarrower, CameraRepair::DeblurredNarrowest}) {
        const double narrowing = kNarrowings[repair == CameraRepair::DeblurredNarrower ? 0 : 1];
        const Blur narrower{narrowing * blur.sigma, narrowing * blur.length, blur.direction};
        // Narrowed below what the unsharp mask restores, it is no view of its own.
        if (std::max(narrower.spreadAlong(narrower.direction), narrower.sigma) < kLeastBlur * pitch) break;
        views.push_back({repair, undone(narrower), drawnHub});
    }
    // A smear's response has zeros, and past a couple of pitches the
    // modules' edges live between the first ones: the share that keeps
    // noise down around them also keeps those edges down. Tried last, with
    // a tenth of it, where the smear makes most of the blur.
    constexpr double kFainter = 0.1;
    if (blur.length * blur.length / 12 >= blur.sigma * blur.sigma)
        views.push_back({CameraRepair::DeblurredFainter,
                         centredOnSampleLevel(removal.without(blur, kFainter * noiseShare(blur)), drawnHub), drawnHub});
    return views;
}

cv::Mat swappedPolarity(const cv::Mat& image)
{
    cv::Mat swapped;
    if (image.channels() != 4) {
        cv::bitwise_not(image, swapped);
        return swapped;
    }
    std::vector<cv::Mat> channels;
    cv::split(image, channels);
    for (int c = 0; c < 3; ++c) cv::bitwise_not(channels[c], channels[c]);
    cv::merge(channels, swapped);
    return swapped;
}

} // namespace orb
