#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "app/code_area.h"

using namespace app;

namespace {

cv::Mat scene(cv::Size size, cv::Rect square)
{
    cv::Mat frame(size, CV_8UC3, cv::Scalar::all(200));
    if (!square.empty()) cv::rectangle(frame, square, cv::Scalar::all(20), cv::FILLED);
    return frame;
}

} // namespace

TEST(CodeArea, FirstFrameAndEachSizeChangeGiveTheWholeFrameOnce)
{
    CodeAreaFinder finder;
    const cv::Mat frame = scene({320, 240}, {});
    EXPECT_EQ(finder.find(frame), cv::Rect(0, 0, 320, 240));
    EXPECT_TRUE(finder.find(frame).empty());
    const cv::Mat larger = scene({640, 480}, {});
    EXPECT_EQ(finder.find(larger), cv::Rect(0, 0, 640, 480));
    EXPECT_TRUE(finder.find(larger).empty());
    // A grey frame of the same size is no size change, and it is still.
    cv::Mat grey;
    cv::cvtColor(larger, grey, cv::COLOR_BGR2GRAY);
    EXPECT_TRUE(finder.find(grey).empty());
}

TEST(CodeArea, SmallOrFaintChangesAreStill)
{
    CodeAreaFinder finder;
    finder.find(scene({200, 100}, {}));
    // 4 % of the pixels changed strongly.
    EXPECT_TRUE(finder.find(scene({200, 100}, {0, 0, 40, 20})).empty());
    // Everything changed, but by only 50 grey levels.
    cv::Mat faint(100, 200, CV_8UC3, cv::Scalar::all(150));
    cv::rectangle(faint, cv::Rect(0, 0, 40, 20), cv::Scalar::all(20), cv::FILLED);
    EXPECT_TRUE(finder.find(faint).empty());
}

TEST(CodeArea, MovingSquareIsBounded)
{
    CodeAreaFinder finder;
    const cv::Size size(640, 480);
    finder.find(scene(size, {}));
    // A 200 px square appears: changed pixels uniform over it, so the side is
    // 2.5 standard deviations, 2.5 * 200 / sqrt(12) = 144, about the centre.
    const cv::Rect area = finder.find(scene(size, {300, 200, 200, 200}));
    EXPECT_EQ(area, cv::Rect(399 - 72, 299 - 72, 144, 144));
    // Moving it away changes both places; the area lies between them.
    const cv::Rect between = finder.find(scene(size, {100, 200, 200, 200}));
    EXPECT_GT(between.x, 100);
    EXPECT_LT(between.x + between.width, 500);
    // A wide bar along the bottom edge: the square area reaches past the
    // frame and is cut at its border.
    finder.find(scene(size, {}));
    const cv::Rect clipped = finder.find(scene(size, {0, 440, 640, 40}));
    EXPECT_EQ(clipped.width, 461); // 2.5 * 640 / sqrt(12)
    EXPECT_EQ(clipped.x, 319 - 230);
    EXPECT_EQ(clipped.y, 459 - 230);
    EXPECT_EQ(clipped.y + clipped.height, 480);
}

TEST(CodeArea, KeepsItsOwnCopyOfGreyFrames)
{
    CodeAreaFinder finder;
    cv::Mat frame(120, 160, CV_8UC1, cv::Scalar(255));
    finder.find(frame);
    // The caller reuses the buffer: the finder must compare with what it saw.
    frame.setTo(0);
    EXPECT_FALSE(finder.find(frame).empty());
}
