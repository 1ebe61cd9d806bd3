// The finder's statistics of white regions, against what tracing them says.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/finder/labelled_regions.h"

using namespace orb;

namespace {

// The four-connected white (0) regions of `dark`, framed by white.
LabelledRegions labelled(const cv::Mat& dark)
{
    cv::Mat framed;
    cv::copyMakeBorder(dark, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    return LabelledRegions(framed == 0, 4);
}

// Random masks: single pixels that touch corner to corner everywhere, and
// blobs and rings.
cv::Mat randomDark(cv::RNG& random, int trial)
{
    cv::Mat dark(50 + trial, 61, CV_8UC1);
    random.fill(dark, cv::RNG::UNIFORM, 0, 2);
    dark *= 255;
    if (trial % 2) {
        cv::GaussianBlur(dark, dark, cv::Size(5, 5), 1.5);
        dark = dark > 128;
    }
    return dark;
}

// The dark pieces that `region` encloses, as the contour search sees them.
int islandsIn(const LabelledRegions& regions, const cv::Size& size, int region)
{
    cv::Mat rest;
    cv::copyMakeBorder(regions.maskOf(region, cv::Rect({}, size)) == 0, rest, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(255));
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
TEST(LabelledRegions, BoxPixelsAndHolesAgreeWithTracingOnNoise)
{
    cv::RNG random(3);
    for (int trial = 0; trial < 40; ++trial) {
        const cv::Mat dark = randomDark(random, trial);
        const cv::Size framed(dark.cols + 2, dark.rows + 2);
        const LabelledRegions regions = labelled(dark);
        for (int region = 1; region < regions.count(); ++region) {
            const RegionBox& box = regions.box(region);
            const cv::Mat mine = regions.maskOf(region, cv::Rect({}, framed));
            ASSERT_EQ(box.pixels, cv::countNonZero(mine));
            EXPECT_EQ(box.rect(), cv::boundingRect(mine));
            EXPECT_EQ(box.holes(), islandsIn(regions, framed, region)) << "trial " << trial << ", region " << region;
        }
    }
}

// The labels are the library's labelling's, numbers included (both follow
// the regions' first pixels), in either connectivity, pixel by pixel and as
// the masks of regions in part of the image; a spiral joins runs that meet
// only far down the image.
TEST(LabelledRegions, LabelsAreThoseOfTheLibrarysLabelling)
{
    cv::RNG random(5);
    std::vector<cv::Mat> masks;
    for (int trial = 0; trial < 20; ++trial) masks.push_back(randomDark(random, trial));
    cv::Mat spiral(80, 80, CV_8UC1, cv::Scalar(0));
    for (int turn = 0; turn < 9; ++turn)
        cv::ellipse(spiral, {40, 40}, {4 * turn + 3, 4 * turn + 3}, 0, 0, 300 + turn, cv::Scalar(255), 1);
    masks.push_back(spiral);
    masks.push_back(cv::Mat(7, 9, CV_8UC1, cv::Scalar(255)));
    masks.push_back(cv::Mat(7, 9, CV_8UC1, cv::Scalar(0)));
    for (const cv::Mat& mask : masks)
        for (const int connectivity : {4, 8}) {
            const LabelledRegions regions(mask, connectivity);
            cv::Mat expected;
            const int count = cv::connectedComponents(mask, expected, connectivity, CV_32S, cv::CCL_WU);
            ASSERT_EQ(regions.count(), count) << connectivity;
            int wrong = 0;
            for (int y = 0; y < mask.rows; ++y)
                for (int x = 0; x < mask.cols; ++x) wrong += regions.labelAt({x, y}) != expected.at<int>(y, x);
            EXPECT_EQ(wrong, 0) << connectivity;
            // A part reaching past the image: nothing of it beyond.
            const cv::Rect part(mask.cols / 3, -2, mask.cols, mask.rows / 2 + 2);
            for (int label = 1; label < count; ++label) {
                cv::Mat inPart = cv::Mat::zeros(part.size(), CV_8UC1);
                const cv::Rect within = part & cv::Rect(0, 0, mask.cols, mask.rows);
                cv::Mat(expected(within) == label).copyTo(inPart(within - part.tl()));
                ASSERT_EQ(cv::countNonZero(regions.maskOf(label, part) != inPart), 0) << connectivity;
            }
        }
}

} // namespace
