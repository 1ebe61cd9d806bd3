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
    cv::Rect rect() const { return {left, top, right - left + 1, bottom - top + 1}; }
};

// The four- or eight-connected regions of a mask (CV_8U, 255 in, 0 out),
// labelled 1 to count() - 1 as cv::connectedComponents labels them (in the
// order of their first pixels), 0 off the mask. A photograph's masks run
// for tens to hundreds of pixels at a time, so the runs are labelled and
// kept instead of every pixel: the finder asks about a few pixels and the
// masks of a few regions only. (OpenCV's labelling with statistics also
// keeps several hundred bytes per region on a parallel run: 180 MB for a
// fine checkerboard's 600,000.)
class LabelledRegions {
public:
    LabelledRegions(const cv::Mat& mask, int connectivity);

    int count() const { return static_cast<int>(boxes_.size()); }
    const RegionBox& box(int label) const { return boxes_[static_cast<std::size_t>(label)]; }
    // The label at `at`, inside the mask's bounds.
    int labelAt(const cv::Point& at) const;
    // Where `label` lies within `area` (CV_8U, 255 on it, 0 elsewhere and
    // beyond the mask's bounds).
    cv::Mat maskOf(int label, const cv::Rect& area) const;

private:
    struct Run {
        int start, end; // columns, end inclusive
        int label;
    };
    std::vector<Run> runs_;       // row by row, left to right
    std::vector<std::size_t> rowStart_; // the first run of each row, and the end
    std::vector<RegionBox> boxes_; // by label; label 0's stays empty
    cv::Size size_;
};

} // namespace orb
