#pragma once
// Undoing the blur of a cut around a found hub: defocus and motion
// measured on the hub's own edges, then removed with a regularised
// inverse filter. The code's centre is drawn the same in every code (a
// dot, the white hub, the black ring), so its blurred look gives the blur.
#include <opencv2/core.hpp>

namespace orb {

// A blur as a Gaussian (defocus) combined with a straight smear (motion).
struct Blur {
    double sigma = 0;     // of the Gaussian, pixels
    double length = 0;    // of the smear, pixels
    double direction = 0; // of the smear, radians, image axes (y down)

    // The spread of the blur along a direction at `angle`: its standard
    // deviation across an edge whose normal points that way.
    double spreadAlong(double angle) const;
};

// The blur of a grey cut whose hub (white disc, drawn three ring pitches
// across its radius, with the black dot and the black ring around it) is
// `hub`. Measured per direction from the hub's radial profile, so a code
// seen at a tilt is measured along its own ellipse.
Blur measuredBlur(const cv::Mat& greyCut, const cv::RotatedRect& hub);

// A cut's blur and its hub as drawn. The finder outlines a smeared hub
// longer along the smear, and a hub that long reads as a tilted code:
// where the blur fits better as a smear of a shorter hub, `hub` is that.
struct CentreBlur {
    Blur blur;
    cv::RotatedRect hub;
};

// measuredBlur, with the hub the blur was measured against.
CentreBlur measuredCentreBlur(const cv::Mat& greyCut, const cv::RotatedRect& hub);

// `grey` with `blur` removed: a Wiener filter whose `noiseShare` (noise
// power over signal power, per frequency) keeps noise from being lifted
// where the blur left little of the image. Grey in, grey out, same size.
cv::Mat deblurred(const cv::Mat& grey, const Blur& blur, double noiseShare);

// Several trial blurs removed from one image: its transform is taken once,
// padded for the widest blur it will be asked to remove.
class BlurRemoval {
public:
    BlurRemoval(const cv::Mat& grey, const Blur& widest);
    // deblurred(grey, blur, noiseShare), for a blur no wider than `widest`.
    cv::Mat without(const Blur& blur, double noiseShare) const;

private:
    cv::Size size_;     // of the image
    cv::Mat spectrum_;  // of the padded image
};

} // namespace orb
