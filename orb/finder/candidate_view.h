#pragma once
// The part of an image around one candidate code, cut out and normalised
// so the decode chain sees a code of a size it reads well, centred, with
// nothing of the scene around it.
#include <vector>

#include <opencv2/core.hpp>

#include "orb/finder/code_finder.h"

namespace orb {

struct CandidateViewOptions {
    // The hub is scaled to this radius, pixels: the chain's fixed pixel
    // tolerances suit rings of a dozen pixels.
    double hubRadius = 55;
    // Everything farther from the centre than this many hub radii is painted
    // with the card's white. The ring count (and so the code's size) is
    // unknown, so a reader tries each in turn, smallest first: a small disc
    // keeps more of the scene out, a large one fits codes of many rings.
    std::vector<double> discRadii = {4.0, 5.5, 7.5};
    // Hubs flatter than this minor/major axis ratio are stretched round in
    // the cut; rounder ones are only scaled, as the chain reads them well.
    double roundAxisRatio = kFlatHubAxisRatio;
    // Margin of the cut beyond the disc, in hub radii.
    double margin = 0.5;
    // The card's white: this percentile of the grey values inside the disc.
    double whitePercentile = 0.9;
};

struct CandidateView {
    cv::Mat image;                 // the normalised cut, same channels as the source
    cv::RotatedRect hub;           // the candidate's hub in the cut's pixels
    // The cut's pixels -> the source image's pixels (an affine map: a flat
    // hub's cut is stretched).
    cv::Matx23d toSource = cv::Matx23d(1, 0, 0, 0, 1, 0);
};

// The cut around `candidate` of an 8-bit image (gray, BGR or BGRA) with
// everything outside `discRadius` hub radii painted white. Where the cut
// leaves the image, the image's border is repeated.
CandidateView cutCandidate(const cv::Mat& image, const CodeCandidate& candidate, double discRadius,
                           const CandidateViewOptions& options = {});

} // namespace orb
