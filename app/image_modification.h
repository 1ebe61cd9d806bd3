#pragma once
// Deliberate degradation of camera frames for robustness trials: a random
// perspective warp, salt-and-pepper noise and blotted areas, each with a
// strength picked by a digit key.
#include <ostream>

#include <opencv2/core.hpp>

namespace app {

struct DistortionLevels {
    double perspective = 0.0; // share of the half size a corner may move inward
    double noise = 0.0;       // share of the pixels turned white, and as many black
    double area = 0.0;        // share of the frame covered by blots
};

// Which level the digit keys set.
enum class DistortionTarget : int { None = 0, Perspective = 1, Noise = 2, Area = 3 };

// A copy of `input` with the enabled distortions applied in the order
// perspective, noise, area destruction; `input` is left as it is. Random
// draws come from the C library generator, the noise from OpenCV's.
cv::Mat distortImage(const DistortionLevels& levels, const cv::Mat& input);

// Sets the level of `target` from `digit` (0..9) and reports it on `out`;
// returns false, changing nothing, when there is no target or no digit.
bool setDistortionLevel(DistortionLevels& levels, DistortionTarget target, int digit, std::ostream& out);

void printModificationOptions(std::ostream& out);
void printModificationOptions();

} // namespace app
