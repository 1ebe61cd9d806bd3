// The finder's statistics of white regions, against what tracing them says.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/finder/region_boxes.h"

using namespace orb;

namespace {

// The four-connected white (0) regions of `dark`, framed by white.
struct Labelled {
    cv::Mat white, labels;
    int count = 0;
};

Labelled labelled(const cv::Mat& dark)
{
    cv::Mat framed;
    cv::copyMakeBorder(dark, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    Labelled regions{framed == 0, {}, 0};
    regions.count = cv::connectedComponents(regions.white, regions.labels, 4, CV_32S);
    return regions;
}

// The dark pieces that `region` encloses, as the contour search sees them.
int islandsIn(const cv::Mat& labels, int region)
{
    cv::Mat rest;
    cv::copyMakeBorder(labels != region, rest, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(255));
    std::vector<std::vector<cv::Point>> outlines;
    std::vector<cv::Vec4i> nesting;
    cv::findContours(rest, outlines, nesting, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
    const auto hole = std::find_if(nesting.begin(), nesting.end(), [](const cv::Vec4i& n) { return n[3] >= 0; });
    const int frame = hole == nesting.end() ? -1 : (*hole)[3];
    int islands = 0;
    for (std::size_t i = 0; i < nesting.size(); ++i)
        if (nesting[i][3] < 0 && static_cast<int>(i) != frame) ++islands;
    return islands;
}

// Single-pixel noise joins dark corner to corner everywhere, which the
// holes of four-connected white must follow as the contour search does.
TEST(RegionBoxes, BoxPixelsAndHolesAgreeWithTracingOnNoise)
{
    cv::RNG random(3);
    for (int trial = 0; trial < 40; ++trial) {
        cv::Mat dark(50 + trial, 61, CV_8UC1);
        random.fill(dark, cv::RNG::UNIFORM, 0, 2);
        dark *= 255;
        if (trial % 2) { // blobs and rings rather than single pixels
            cv::GaussianBlur(dark, dark, cv::Size(5, 5), 1.5);
            dark = dark > 128;
        }
        const Labelled regions = labelled(dark);
        const cv::Mat& labels = regions.labels;
        const int count = regions.count;
        const std::vector<RegionBox> boxes = regionBoxes(regions.white, labels, count);
        ASSERT_EQ(static_cast<int>(boxes.size()), count);
        for (int region = 1; region < count; ++region) {
            const RegionBox& box = boxes[static_cast<std::size_t>(region)];
            const cv::Mat mine = labels == region;
            ASSERT_EQ(box.pixels, cv::countNonZero(mine));
            const cv::Rect bounds = cv::boundingRect(mine);
            EXPECT_EQ(cv::Rect(box.left, box.top, box.right - box.left + 1, box.bottom - box.top + 1), bounds);
            EXPECT_EQ(box.holes(), islandsIn(labels, region)) << "trial " << trial << ", region " << region;
        }
    }
}

} // namespace
