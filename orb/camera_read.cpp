#include "orb/camera_read.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

// The hub is three ring pitches across its radius.
constexpr double kHubPitches = 3.0;

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

} // namespace

std::vector<CameraView> cameraViews(const cv::Mat& greyCut, double hubRadius)
{
    CV_Assert(greyCut.type() == CV_8UC1);
    const double pitch = hubRadius / kHubPitches;
    const cv::Mat sharp = sharpened(greyCut, pitch);
    return {{CameraRepair::LevelledLight, levelledLight(greyCut, pitch)},
            {CameraRepair::Sharpened, sharp},
            {CameraRepair::SharpenedAndLevelled, levelledLight(sharp, pitch)}};
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
