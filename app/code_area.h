#pragma once
// Motion-based choice of the region to decode: only the part of a frame
// that changed since the previous one is worth the decoder's time.
#include <opencv2/core.hpp>

namespace app {

// Keeps the previous grey frame between calls.
class CodeAreaFinder {
public:
    // The region around the pixels that changed by more than 50 grey levels
    // since the previous call; the whole image on the first call and after a
    // change of frame size; an empty rectangle when fewer than 5 % changed.
    cv::Rect find(const cv::Mat& image);
    // The grey version of the image last given to find (empty before the first).
    const cv::Mat& lastGrey() const { return previous_; }

private:
    cv::Mat previous_;
};

// The one finder the camera loop uses. It outlives a camera run, so the
// next run starts from the last frame seen.
CodeAreaFinder& cameraCodeAreaFinder();
// The camera loop's finder applied to `image`.
cv::Rect findCodeArea(const cv::Mat& image);

} // namespace app
