#include <gtest/gtest.h>

#include <numeric>

#include <opencv2/imgproc.hpp>

#include "app/camera_loop.h"
#include "app/read_overlay.h"
#include "support/camera_clip.h"

using namespace app;

namespace {

constexpr std::int64_t kSecond = 10000000; // ticks

// Pixels the overlay coloured on a grey scene.
cv::Mat colouredPixels(const cv::Mat& frame)
{
    cv::Mat channels[3];
    cv::split(frame, channels);
    cv::Mat spread = cv::max(cv::max(channels[0], channels[1]), channels[2]) -
                     cv::min(cv::min(channels[0], channels[1]), channels[2]);
    return spread > 60;
}

} // namespace

TEST(StatusLine, FitsTheFrameWidthWithNothingLeftOut)
{
    CameraRunState state;
    const std::string text = cameraStatusText(state, 30);
    for (const int width : {1920, 640, 320}) {
        SCOPED_TRACE(width);
        const StatusLayout layout = layoutStatusLine(text, width);
        const std::string joined = std::accumulate(std::next(layout.lines.begin()), layout.lines.end(),
                                                   layout.lines.front(),
                                                   [](const std::string& a, const std::string& b) { return a + " | " + b; });
        EXPECT_EQ(joined, text);
        cv::Mat frame(240, width, CV_8UC3, cv::Scalar::all(0));
        drawStatusLine(frame, text);
        cv::Mat gray;
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        const cv::Rect drawn = cv::boundingRect(gray > 0);
        // Text cut at the border would run into the last column.
        EXPECT_GT(drawn.width, 100);
        EXPECT_LE(drawn.br().x, width - 3);
    }
    EXPECT_EQ(layoutStatusLine(text, 1920).lines.size(), 1u);
    EXPECT_DOUBLE_EQ(layoutStatusLine(text, 1920).scale, 1.0);
}

TEST(ReadMarks, OutlineOnTheCodeHeldThenFadedThenGone)
{
    const cv::Mat card = testing_support::codeCard(testing_support::kClipText, 300, 8);
    const cv::Mat scene = testing_support::sceneFrame({640, 480}, card, {170, 90});
    const orb::ReadResult code = orb::readCode(scene);
    ASSERT_TRUE(code);
    ReadMarks marks;
    marks.add(code, 0);
    marks.add(code, kSecond / 10); // read again where it was: the same mark, renewed
    ASSERT_EQ(marks.codes().size(), 1u);

    const auto drawnAt = [&](std::int64_t ticks) {
        cv::Mat frame = scene.clone();
        marks.draw(frame, ticks, false);
        return colouredPixels(frame);
    };
    const cv::Mat held = drawnAt(kSecond / 2);
    // The ring's outline: coloured pixels all around the code, none far out.
    cv::Mat ring = cv::Mat::zeros(scene.size(), CV_8U);
    std::vector<cv::Point> outline;
    for (const cv::Point2f& point : code.position.outline) outline.emplace_back(cvRound(point.x), cvRound(point.y));
    cv::polylines(ring, outline, true, cv::Scalar(255), 9);
    const cv::Rect codeBox = cv::boundingRect(outline);
    EXPECT_GT(cv::countNonZero(held & ring), 0.8 * cv::arcLength(outline, true));
    const cv::Rect label = cv::boundingRect(held - ring);
    EXPECT_GE(label.x, codeBox.x) << "the text stands beside the code";

    const int fading = cv::countNonZero(drawnAt(kSecond * 8 / 10));
    EXPECT_GT(fading, 0);
    EXPECT_LT(fading, cv::countNonZero(held));
    EXPECT_EQ(cv::countNonZero(drawnAt(2 * kSecond)), 0);
    marks.expire(2 * kSecond);
    EXPECT_TRUE(marks.codes().empty());
}

TEST(ReadMarks, CandidatesShowOnlyWhenAskedAndAGrayFrameTurnsColour)
{
    ReadMarks marks;
    marks.setCandidates({cv::RotatedRect({100, 100}, {40, 30}, 10)}, 0);
    cv::Mat gray(200, 200, CV_8UC1, cv::Scalar(128));
    marks.draw(gray, 0, false);
    EXPECT_EQ(gray.channels(), 1) << "nothing to draw, nothing changed";
    marks.draw(gray, 0, true);
    ASSERT_EQ(gray.channels(), 3);
    EXPECT_GT(cv::countNonZero(colouredPixels(gray)), 50);
}
