#pragma once
// A second way to read a found place, for what a hand-held camera sees:
// the grey cut around the place remade so that the chain's single
// binarisation level and its hard-edged structure searches hold again.
// It runs only where the chain fails on the cut as it is.
#include <vector>

#include <opencv2/core.hpp>

#include "orb/deblurring.h"

namespace orb {

// What a camera view repairs, in the order the views are tried.
enum class CameraRepair {
    LevelledLight, // a threshold that follows the light: hard shadows, glare
    Sharpened,     // an unsharp mask before binarisation: defocus, motion blur
    SharpenedAndLevelled, // both: blur under uneven light
    Deblurred,     // the measured blur undone: defocus or motion too wide to sharpen
    DeblurredAndLevelled, // that, under uneven light
    DeblurredNarrower, // the blur undone narrower than measured: the measure runs wide
    DeblurredNarrowest, // narrower still, where the narrower one lifts noise
    DeblurredFainter, // as measured, held down less: a long smear's modules
};

// Whether `repair` undoes a measured blur.
inline bool undoesBlur(CameraRepair repair) { return repair >= CameraRepair::Deblurred; }

struct CameraView {
    CameraRepair repair;
    cv::Mat image; // grey, the cut's size and pixels
    cv::RotatedRect hub; // as the view shows it: a smear undone shortens it
};

// The views of a grey cut around `hub` (the cut's hub ellipse), most
// likely to read first. The ring pitch is a third of the hub radius, which
// sets every filter's size. A cut blurred (measuredCentreBlur) by more
// than the unsharp mask restores also gets views with the blur undone,
// as measured and narrower, whose hub has the shape it was measured on.
std::vector<CameraView> cameraViews(const cv::Mat& greyCut, const cv::RotatedRect& hub, const CentreBlur& blur = {});

// The image with dark and light swapped, so a code printed light on dark
// reads as one printed dark on light. Gray, BGR or BGRA; alpha is kept.
cv::Mat swappedPolarity(const cv::Mat& image);

} // namespace orb
