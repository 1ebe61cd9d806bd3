#pragma once
// The warps that bring a seen code towards concentric circles centred in the
// image, each fitted to a different set of landmarks.
#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/detection/start_marker_types.h"
#include "orb/detection/zebra_result.h"
#include "orb/payload/grid_reader.h"

namespace orb {

// A corrected binarised working image and the transform that produced it.
struct CorrectedImage {
    cv::Mat image;
    cv::Matx33d transform = cv::Matx33d::eye();
};

// Maps the inner circle ellipse onto a circle of radius R at the image centre.
// The transform is affine (last row 0, 0, 1).
CorrectedImage affineTransform(const StageInput& input, const cv::RotatedRect& circle, double R);

// Maps the inner zebra features onto their ideal slots on a circle of the
// zebra's radius around the image centre.
CorrectedImage perspectiveTransform1(const StageInput& input, const ZebraResult& innerZebra);

// Maps the outer zebra onto a circle 10 pixels inside the nearer image
// border and moves the start marker's ray start, bar end and angle along.
CorrectedImage perspectiveTransform2(const StageInput& input, StartMarker& startMarker, const ZebraResult& outerZebra);

// The two zebra corrections give an empty image when their points admit no
// fit (fewer than four, or degenerate): there is then nothing to retry on.

// Warps the source image by the accumulated homography into the
// three-channel image that grid reading samples, white outside the ring
// between the inner circle and the bar's outer end.
cv::Mat finalTransform(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker);

// The image finalTransform makes, pixel by pixel. Grid reading samples a
// few thousand pixels of the ring, far fewer than the ring's box holds, so
// each is warped only when it is read; every pixel is the one
// finalTransform puts there.
class WarpedRing {
public:
    WarpedRing(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
               const StartMarker& startMarker);
    // The size of finalTransform's image.
    cv::Size size() const { return frame; }
    // The pixel at (x, y), which must lie inside the image.
    cv::Vec3b at(int x, int y) const;
    // The image as grid reading reads it.
    CodePixels pixels() const
    {
        return {frame, [ring = *this](int x, int y) { return ring.at(x, y); }};
    }

private:
    cv::Mat source;
    cv::Size frame;
    cv::Rect ring;        // the ring's box in the image
    cv::Mat outside;      // per pixel of the box: non-zero off the ring
    cv::Matx33d inverse;  // from the box to the source, as the library's warp inverts it
    int blockWidth = 1;   // the library's warp sums its coordinates from these column blocks
};

} // namespace orb
