#pragma once
// The regions of a mask, labelled from its runs along the rows, and what the
// finder knows of each before it traces any outline: enough to turn most
// regions down at no further cost.
#include <climits>
#include <vector>

#include <opencv2/core.hpp>

namespace orb {

// The box, pixel count and holes of one region.
struct RegionBox {
    int left = INT_MAX, top = -1, right = -1, bottom = -1;
    int pixels = 0;
    // Its runs along the rows, and the pairs of them in adjacent rows that
    // touch: a four-connected region has joins - runs + 1 holes.
    int runs = 0, joins = 0;

    int holes() const { return joins - runs + 1; }
};

// The regions of a mask as cv::connectedComponents labels them: 1 to
// count - 1 in the order of their first pixel, 0 off the mask.
struct LabelledRegions {
    cv::Mat labels; // CV_32S, the mask's size
    int count = 1;
    std::vector<RegionBox> boxes; // by label; label 0's stays empty
};

// The four- or eight-connected regions of `mask` (CV_8U, 255 in, 0 out).
// A photograph's masks run white for tens to hundreds of pixels at a time,
// so labelling the runs costs a fraction of labelling every pixel; on
// noise, whose runs are a pixel or two, it costs about the same. (OpenCV's
// labelling with statistics also keeps several hundred bytes per region on
// a parallel run: 180 MB for a fine checkerboard's 600,000.)
LabelledRegions labelRegions(const cv::Mat& mask, int connectivity);

} // namespace orb
