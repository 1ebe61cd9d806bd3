#include "orb/detection/ray_walk.h"

#include <string>

#include <gtest/gtest.h>

namespace orb {
namespace {

// One image row from a pattern: 'b' black, 'w' white.
cv::Mat row(const std::string& pattern)
{
    cv::Mat image(1, static_cast<int>(pattern.size()), CV_8UC1);
    for (int i = 0; i < image.cols; ++i) image.at<std::uint8_t>(0, i) = pattern[i] == 'b' ? 0 : 255;
    return image;
}

const cv::Point2d kRight(1, 0);

TEST(RayWalk, CountsRunAndStopsAfterIt)
{
    cv::Point2d p(0, 0);
    EXPECT_EQ(countBlackRun(p, kRight, row("bbbwwb"), false), 3);
    EXPECT_EQ(p.x, 3);
    // Without the skip flag a walk that starts on the other colour counts nothing.
    EXPECT_EQ(countBlackRun(p, kRight, row("bbbwwb"), false), 0);
    EXPECT_EQ(p.x, 3);
    // With it the white is passed first.
    p = {3, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("bbbwwbbw"), true), 2);
    EXPECT_EQ(p.x, 7);
    p = {0, 0};
    EXPECT_EQ(countWhiteRun(p, kRight, row("bbwwwwb"), true), 4);
    EXPECT_EQ(p.x, 6);
}

TEST(RayWalk, SinglePixelRunBridgesOnePixelOfTheOtherColour)
{
    cv::Point2d p(0, 0);
    // b w b b b w: the lone black pixel joins the run behind the speck; the
    // speck itself is not counted.
    EXPECT_EQ(countBlackRun(p, kRight, row("bwbbbw"), false), 4);
    EXPECT_EQ(p.x, 5);
    // Two pixels of the other colour are not bridged.
    p = {0, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("bwwbbb"), false), 1);
    EXPECT_EQ(p.x, 1);
    // Only a run of exactly one pixel bridges.
    p = {0, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("bbwbbb"), false), 2);
    p = {0, 0};
    EXPECT_EQ(countWhiteRun(p, kRight, row("wbwwb"), false), 3);
    EXPECT_EQ(p.x, 4);
}

TEST(RayWalk, BorderEndsTheRun)
{
    cv::Point2d p(2, 0);
    EXPECT_EQ(countBlackRun(p, kRight, row("wwbbb"), false), 3);
    EXPECT_EQ(p.x, 5);
    // A lone pixel at the border, or one whose bridge leads out of the image.
    p = {4, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("wwwwb"), false), 1);
    p = {3, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("wwwbw"), false), 1);
    EXPECT_EQ(p.x, 4);
    // Starting outside, or skipping up to the border, counts nothing.
    p = {-1, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("bbb"), false), 0);
    p = {0, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("www"), true), 0);
    EXPECT_EQ(p.x, 3);
}

TEST(RayWalk, RoundsHalfAwayFromZero)
{
    // x = 1.5 reads pixel 2, x = -0.5 is outside.
    cv::Point2d p(1.5, 0);
    EXPECT_EQ(countBlackRun(p, kRight, row("wwbbw"), false), 2);
    p = {-0.5, 0};
    EXPECT_EQ(countBlackRun(p, kRight, row("bbw"), false), 0);
    // Diagonal steps read the rounded position.
    cv::Mat image(4, 4, CV_8UC1, cv::Scalar(255));
    image.at<std::uint8_t>(1, 1) = 0;
    image.at<std::uint8_t>(2, 2) = 0;
    p = {0.6, 0.6};
    EXPECT_EQ(countBlackRun(p, cv::Point2d(1, 1), image, false), 2);
}

} // namespace
} // namespace orb
