#include "orb/payload/module_levels.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace orb {

namespace {

// The window the levels are taken over: every window of this size holds
// both colours but for a small chance, the masks see to that.
constexpr int kAlongRing = 2;
constexpr int kAcrossRings = 1;
// A window darker or lighter all over (one colour only) has almost no
// contrast of its own; the grid's contrast, scaled by this, stands in.
constexpr float kLeastContrastShare = 0.2f;

// Colour value of the lit channels, indexed by red | green << 1 | blue << 2.
constexpr std::uint8_t kColourValue[8] = {1, 2, 3, 7, 4, 6, 5, 0};

// The darkest or lightest value around each cell, the ring wrapping round.
cv::Mat localExtreme(const cv::Mat& grid, bool lightest)
{
    cv::Mat wrapped, padded, extreme;
    cv::copyMakeBorder(grid, wrapped, 0, 0, kAlongRing, kAlongRing, cv::BORDER_WRAP);
    cv::copyMakeBorder(wrapped, padded, kAcrossRings, kAcrossRings, 0, 0, cv::BORDER_REPLICATE);
    const cv::Mat window =
        cv::getStructuringElement(cv::MORPH_RECT, {2 * kAlongRing + 1, 2 * kAcrossRings + 1});
    if (lightest) cv::dilate(padded, extreme, window);
    else cv::erode(padded, extreme, window);
    return extreme(cv::Rect(kAlongRing, kAcrossRings, grid.cols, grid.rows)).clone();
}

} // namespace

LevelReading readByLocalLevels(const std::vector<cv::Vec3f>& means, int ringCount, int perRing, int bitsPerModule)
{
    LevelReading reading;
    if (ringCount <= 0 || perRing <= 0 || means.size() != static_cast<std::size_t>(ringCount) * perRing)
        return reading;
    // Black and white codes are read on their grey; colour codes per channel.
    cv::Mat grid = cv::Mat(means, true).reshape(3, ringCount);
    if (bitsPerModule == 1) cv::cvtColor(grid, grid, cv::COLOR_BGR2GRAY);
    const cv::Mat dark = localExtreme(grid, false);
    const cv::Mat light = localExtreme(grid, true);

    const int channels = grid.channels();
    std::vector<cv::Mat> gridPlanes, darkPlanes, lightPlanes;
    cv::split(grid, gridPlanes);
    cv::split(dark, darkPlanes);
    cv::split(light, lightPlanes);

    const std::size_t count = means.size();
    reading.values.assign(count, 0);
    reading.certainty.assign(count, 0.5f);
    std::vector<unsigned> lit(count, 0);
    for (int c = 0; c < channels; ++c) {
        double lowest = 0, highest = 0;
        cv::minMaxLoc(gridPlanes[c], &lowest, &highest);
        const float leastContrast = kLeastContrastShare * static_cast<float>(highest - lowest);
        const cv::Mat_<float> g = gridPlanes[c], lo = darkPlanes[c], hi = lightPlanes[c];
        for (std::size_t i = 0; i < count; ++i) {
            const float value = g(static_cast<int>(i));
            const float threshold = (lo(static_cast<int>(i)) + hi(static_cast<int>(i))) / 2;
            const float contrast = std::max(hi(static_cast<int>(i)) - lo(static_cast<int>(i)), leastContrast);
            const float sure = contrast > 0 ? std::min(std::abs(value - threshold) / contrast, 0.5f) : 0.0f;
            reading.certainty[i] = std::min(reading.certainty[i], sure);
            if (value > threshold) lit[i] |= 1u << c;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        // Channels in blue, green, red order; the colour table wants red first.
        const unsigned bgr = lit[i];
        reading.values[i] = bitsPerModule == 1
                                ? static_cast<std::uint8_t>(bgr == 0)
                                : kColourValue[((bgr >> 2) & 1) | (bgr & 2) | ((bgr & 1) << 2)];
    }
    return reading;
}

} // namespace orb
