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

// The regions of `labels` (CV_32S) labelled 1 to `count` - 1 in the
// four-connected white of `white` (CV_8U, 255 white, 0 dark, which is label
// 0); the entry of label 0 stays empty.
std::vector<RegionBox> regionBoxes(const cv::Mat& white, const cv::Mat& labels, int count);

} // namespace orb
