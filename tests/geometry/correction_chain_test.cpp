#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/drawing/text_code.h"
#include "orb/geometry/inner_circle.h"
#include "orb/geometry/perspective_correction.h"
#include "orb/geometry/preprocessing.h"
#include "geometry/log_capture.h"

namespace orb {
namespace {

struct ChainRun {
    ResultCode rc = InnerCircleNotFound;
    std::string text;
    std::string log;
};

// Inner circle and the correction chain on one picture, as the decode entry
// runs them, with the Debug lines of the run.
ChainRun runChain(const cv::Mat& picture)
{
    const LogCapture log(LogLevel::Debug);
    ChainRun run;
    std::uint8_t dataType = 0;
    std::uint8_t eccType = 0;
    StartMarker startMarker;
    ZebraResult zebra;
    DetectionContext context;
    context.payload = &run.text;
    context.dataType = &dataType;
    context.eccType = &eccType;
    context.sourceImage = &picture;
    context.startMarker = &startMarker;
    context.zebra = &zebra;
    DecoderConfiguration config;
    const StageInput input{config, binarizeImage(picture, BlackAndWhite)};
    cv::RotatedRect circle;
    run.rc = findCircle(input, circle);
    if (run.rc == Success) run.rc = detectCode(input, context, circle);
    run.log = log.text();
    return run;
}

cv::Mat drawnCode(const std::string& text, int modulesPerRing, double angle, cv::Point2d offset)
{
    TextCodeOptions options;
    options.modulesPerRing = modulesPerRing;
    DrawOptions drawing;
    drawing.pitch = 9;
    drawing.startAngle = angle;
    drawing.centreOffset = offset;
    drawing.canvas = {1280, 720};
    return drawText(text, options, drawing).image;
}

bool logged(const ChainRun& run, const std::string& line) { return run.log.find("Debug\t" + line + "\n") != std::string::npos; }

TEST(CorrectionChain, CentredCodeNeedsNoCorrection)
{
    const ChainRun run = runChain(drawnCode("head-on", 32, 1.1, {0.37, 0.21}));
    ASSERT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "head-on");
    EXPECT_FALSE(logged(run, " affineTransform"));
    EXPECT_FALSE(logged(run, "   perspectiveTransform1"));
    EXPECT_FALSE(logged(run, "      perspectiveTransform2"));
    EXPECT_TRUE(logged(run, "        finalTransform"));
    EXPECT_TRUE(logged(run, "         readGridData"));
}

TEST(CorrectionChain, OffCentreCodeIsMovedToTheCentre)
{
    const ChainRun run = runChain(drawnCode("off centre", 48, 4.0, {180, -90}));
    ASSERT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "off centre");
    EXPECT_TRUE(logged(run, " affineTransform"));
}

TEST(CorrectionChain, TiltedCodeIsRead)
{
    const cv::Mat flat = drawnCode("in perspective", 32, 2.5, {20.37, -10.21});
    const cv::Point2f corners[4] = {{0, 0}, {1279, 0}, {1279, 719}, {0, 719}};
    const cv::Point2f moved[4] = {{90, 40}, {1200, -30}, {1260, 700}, {-60, 650}};
    cv::Mat tilted;
    cv::warpPerspective(flat, tilted, cv::getPerspectiveTransform(corners, moved), flat.size(), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(255));
    const ChainRun run = runChain(tilted);
    ASSERT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "in perspective");
}

TEST(CorrectionChain, NoCodeFailsWithoutCorrectionsThrowing)
{
    cv::Mat picture(480, 640, CV_8UC3, cv::Scalar::all(255));
    cv::circle(picture, {320, 240}, 120, cv::Scalar::all(0), 20);
    cv::rectangle(picture, cv::Rect(20, 30, 100, 50), cv::Scalar::all(0), cv::FILLED);
    ChainRun run;
    EXPECT_NO_THROW(run = runChain(picture));
    EXPECT_NE(run.rc, Success);
    EXPECT_TRUE(run.text.empty());
}

} // namespace
} // namespace orb
