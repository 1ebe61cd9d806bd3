#pragma once
// What the finder knows of each white region of a labelled image before it
// traces any outline: enough to turn most regions down at no further cost.
#include <climits>
#include <vector>

#include <opencv2/core.hpp>

namespace orb {

// The box, pixel count and holes of each labelled region. OpenCV's labelling
// with statistics keeps several hundred bytes per region on a parallel run
// (180 MB for a fine checkerboard's 600,000), hence one pass of our own.
struct RegionBox {
    int left = INT_MAX, top = -1, right = -1, bottom = -1;
    int pixels = 0;
    // Its runs along the rows, and the pairs of them in adjacent rows that
    // share a column: a four-connected region has joins - runs + 1 holes.
    int runs = 0, joins = 0;

    int holes() const { return joins - runs + 1; }
};

// The regions of `labels` (CV_32S, 0 for the dark between them) labelled 0 to
// `count` - 1; the entry of label 0 stays empty.
std::vector<RegionBox> regionBoxes(const cv::Mat& labels, int count);

} // namespace orb
