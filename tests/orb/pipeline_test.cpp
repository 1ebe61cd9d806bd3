#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "orb/drawing/text_code.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/pipeline.h"
#include "support/log_capture.h"

namespace orb {
namespace {

struct ChainRun {
    ResultCode rc = InnerCircleNotFound;
    std::string text;
    std::string log;
    std::vector<Stage> stages; // every stage and correction run, in order
};

// As captured only, without enhancement, with the given layouts.
PipelineOptions plain(std::vector<std::int32_t> layouts = {})
{
    PipelineOptions options;
    options.layouts = std::move(layouts);
    options.tryMirrored = false;
    options.enhance = false;
    options.reducedFirst = false; // the retries of one size
    options.keepSteps = true;
    return options;
}

ChainRun runChain(const cv::Mat& picture, const PipelineOptions& options = plain())
{
    const LogCapture log(LogLevel::Debug);
    ChainRun run;
    const PipelineReading reading = runPipeline(DecoderConfiguration(), picture, options);
    run.rc = reading.code;
    run.text = reading.payload.text;
    run.log = log.text();
    for (const PipelineStep& step : reading.steps) run.stages.push_back(step.stage);
    return run;
}

cv::Mat drawnCode(const std::string& text, int modulesPerRing, double angle, cv::Point2d offset,
                  std::int32_t layout = HorizontalSnakeSmall, double pitch = 9, cv::Size canvas = {1280, 720})
{
    TextCodeOptions options;
    options.modulesPerRing = modulesPerRing;
    options.layout = layout;
    DrawOptions drawing;
    drawing.pitch = pitch;
    drawing.startAngle = angle;
    drawing.centreOffset = offset;
    drawing.canvas = canvas;
    return drawText(text, options, drawing).image;
}

bool ran(const ChainRun& run, Stage stage)
{
    return std::find(run.stages.begin(), run.stages.end(), stage) != run.stages.end();
}

TEST(Pipeline, CentredCodeNeedsNoCorrection)
{
    const ChainRun run = runChain(drawnCode("head-on", 32, 1.1, {0.37, 0.21}));
    ASSERT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "head-on");
    EXPECT_EQ(run.stages, (std::vector<Stage>{Stage::InnerCircle, Stage::InnerZebra, Stage::StartMarker,
                                              Stage::OuterZebra, Stage::RadialZebra, Stage::GridReading}));
}

TEST(Pipeline, OffCentreCodeIsMovedToTheCentre)
{
    const ChainRun run = runChain(drawnCode("off centre", 48, 4.0, {180, -90}));
    ASSERT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "off centre");
    EXPECT_TRUE(ran(run, Stage::AffineCorrection));
}

TEST(Pipeline, AKnownInnerCircleSkipsItsSearch)
{
    // A dark blot pulls the inner circle search off the code; a finder that
    // knows where the hub is hands it over instead.
    DrawOptions drawing;
    drawing.pitch = 9;
    drawing.centreOffset = {120.37, 40.21};
    drawing.canvas = {1600, 900};
    const DrawnCode drawn = drawText("known hub", TextCodeOptions{}, drawing);
    cv::Mat picture = drawn.image.clone();
    cv::circle(picture, {60, 60}, 40, cv::Scalar::all(0), cv::FILLED);
    const double hub = drawn.plan.geometry.hubRadius * drawn.plan.placement.pitch;
    PipelineOptions options;
    EXPECT_NE(runPipeline(DecoderConfiguration(), picture, options).code, Success);
    options.innerCircle = cv::RotatedRect(cv::Point2f(drawn.plan.placement.centre), cv::Size2f(2 * hub, 2 * hub), 0);
    options.keepSteps = true;
    const PipelineReading reading = runPipeline(DecoderConfiguration(), picture, options);
    ASSERT_EQ(reading.code, Success);
    EXPECT_EQ(reading.payload.text, "known hub");
    // The hub handed over is the inner circle step: no search, no time.
    ASSERT_FALSE(reading.steps.empty());
    EXPECT_EQ(reading.steps.front().stage, Stage::InnerCircle);
    EXPECT_EQ(reading.steps.front().result, Success);

    // Mirrored, the circle is mirrored with the image.
    cv::Mat mirrored;
    cv::flip(picture, mirrored, 1);
    options.innerCircle->center.x = mirrored.cols - 1 - options.innerCircle->center.x;
    const PipelineReading flipped = runPipeline(DecoderConfiguration(), mirrored, options);
    ASSERT_EQ(flipped.code, Success);
    EXPECT_TRUE(flipped.mirrored);
}

TEST(Pipeline, TiltedCodeIsRead)
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

TEST(Pipeline, StainOverTheRadialZebraReadsByTheRingsOwnEdges)
{
    TextCodeOptions options;
    options.ringCount = 6;
    DrawOptions drawing;
    drawing.pitch = 9;
    drawing.startAngle = 1.3;
    drawing.centreOffset = {0.37, 0.21};
    drawing.canvas = {1280, 720};
    DrawnCode code = drawText("ScanBench", options, drawing);

    // Correction fluid over the radial zebra's position in every data ring.
    const CodePlan& plan = code.plan;
    const double e = kTwoPi / options.modulesPerRing;
    const double bar = plan.placement.startAngle;
    const auto at = [&](double rings, double turns) {
        const double angle = bar - (2 + turns) * e;
        const cv::Point2d direction(std::cos(angle), -std::sin(angle));
        return cv::Point(plan.placement.centre + rings * plan.placement.pitch * direction);
    };
    std::vector<cv::Point> blot;
    for (double t = -0.6; t <= 0.6; t += 0.05) blot.push_back(at(plan.geometry.dataInnerRadius(), t));
    for (double t = 0.6; t >= -0.6; t -= 0.05) blot.push_back(at(plan.geometry.outerZebraInnerRadius(), t));
    cv::fillPoly(code.image, std::vector<std::vector<cv::Point>>{blot}, cv::Scalar(235, 235, 235), cv::LINE_AA);

    const ChainRun run = runChain(code.image);
    EXPECT_EQ(run.rc, Success) << run.log;
    EXPECT_EQ(run.text, "ScanBench");
    // Read through the rings' own edges: the grid that read came straight
    // after the radial zebra's own failed, not after a correction.
    const std::vector<Stage>& stages = run.stages;
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.end()[-1], Stage::GridReading);
    EXPECT_EQ(stages.end()[-2], Stage::RadialZebra);
    EXPECT_TRUE(stages.end()[-3] == Stage::GridReading || stages.end()[-3] == Stage::RadialZebra) << run.log;
}

TEST(Pipeline, NoCodeFailsWithoutCorrectionsThrowing)
{
    cv::Mat picture(480, 640, CV_8UC3, cv::Scalar::all(255));
    cv::circle(picture, {320, 240}, 120, cv::Scalar::all(0), 20);
    cv::rectangle(picture, cv::Rect(20, 30, 100, 50), cv::Scalar::all(0), cv::FILLED);
    ChainRun run;
    EXPECT_NO_THROW(run = runChain(picture));
    EXPECT_NE(run.rc, Success);
    EXPECT_TRUE(run.text.empty());
}

// The hub, its ring and the inner zebra's notches look the same mirrored:
// a target with no zebra round its hub is not read again in the mirror
// image, while a code whose data does not read is.
TEST(Pipeline, TheMirrorImageIsTriedOnlyPastTheCentre)
{
    PipelineOptions options = plain();
    options.tryMirrored = true;
    const auto mirroredSteps = [](const PipelineReading& reading) {
        return std::count_if(reading.steps.begin(), reading.steps.end(),
                             [](const PipelineStep& step) { return step.mirrored; });
    };
    cv::Mat target(480, 640, CV_8UC3, cv::Scalar::all(255));
    cv::circle(target, {320, 240}, 150, cv::Scalar::all(0), cv::FILLED);
    cv::circle(target, {320, 240}, 100, cv::Scalar::all(255), cv::FILLED);
    cv::circle(target, {320, 240}, 24, cv::Scalar::all(0), cv::FILLED);
    const PipelineReading noZebra = runPipeline(DecoderConfiguration(), target, options);
    EXPECT_TRUE(noZebra.code == PerspectiveMarkersNotDetected || noZebra.code == WrongPerspectiveMarkerCount)
        << noZebra.code;
    EXPECT_EQ(mirroredSteps(noZebra), 0);

    const PipelineReading noLayout =
        runPipeline(DecoderConfiguration(), drawnCode("retry order", 32, 0.8, {0.37, 0.21}, Scrambled), options);
    EXPECT_NE(noLayout.code, Success);
    EXPECT_GT(mirroredSteps(noLayout), 0);
}

TEST(Pipeline, EachFailureGoesBackToTheNearestRetryPoint)
{
    // Every geometry stage succeeds, but the grid, written in another
    // layout, never reads: each retry point runs its corrected try in turn,
    // innermost first, and the last failure is reported.
    const cv::Mat picture = drawnCode("retry order", 32, 0.8, {0.37, 0.21}, Scrambled);
    const ChainRun run = runChain(picture);
    EXPECT_NE(run.rc, Success);
    EXPECT_NE(run.rc, WrongGrid);
    using S = Stage;
    const std::vector<Stage> radialTries = {S::RadialZebra, S::GridReading, S::PerspectiveCorrection2,
                                            S::RadialZebra, S::GridReading};
    std::vector<Stage> markerTries = {S::StartMarker, S::OuterZebra};
    markerTries.insert(markerTries.end(), radialTries.begin(), radialTries.end());
    std::vector<Stage> expected = {S::InnerCircle, S::InnerZebra};
    for (const bool corrected : {false, true}) {
        if (corrected) expected.push_back(S::PerspectiveCorrection1);
        expected.insert(expected.end(), markerTries.begin(), markerTries.end());
    }
    const std::vector<Stage>& seen = run.stages;
    ASSERT_GE(seen.size(), expected.size()) << run.log;
    EXPECT_EQ(std::vector<Stage>(seen.begin(), seen.begin() + expected.size()), expected) << run.log;
    // Then the inner zebra's own retry on the affine-corrected image.
    ASSERT_GT(seen.size(), expected.size());
    EXPECT_EQ(seen[expected.size()], S::AffineCorrection);
    // Each step says which image it ran on; the last failure is the one reported.
    const PipelineReading failedRead = runPipeline(DecoderConfiguration(), picture, plain());
    EXPECT_EQ(failedRead.steps[7].stage, Stage::RadialZebra);
    EXPECT_EQ(stepImage(failedRead.steps[7]), "full size, perspective 2");
    EXPECT_EQ(failedRead.steps.back().result, failedRead.code);

    // With the layout among those tried, the same picture reads at once.
    const ChainRun read = runChain(picture, plain({HorizontalSnakeSmall, Scrambled}));
    EXPECT_EQ(read.rc, Success) << read.log;
    EXPECT_EQ(read.text, "retry order");
    EXPECT_EQ(read.stages.size(), 6u) << read.log;
}

// A large image is read at half size first; the full size is read only
// when the half size found a code it could not read.
TEST(Pipeline, LargeImageIsReadAtHalfSizeFirst)
{
    const auto read = [](const cv::Mat& picture) {
        PipelineOptions options;
        options.keepSteps = true;
        const LogCapture log(LogLevel::Debug);
        PipelineReading reading = runPipeline(DecoderConfiguration(), picture, options);
        return std::pair{std::move(reading), log.text()};
    };

    // Wide rings read at half size.
    const auto [wide, wideLog] = read(drawnCode("wide rings", 32, 0.5, {0.37, 0.21}, HorizontalSnakeSmall, 20));
    EXPECT_EQ(wide.code, Success) << wideLog;
    EXPECT_EQ(wide.payload.text, "wide rings");
    EXPECT_EQ(wide.workingSize, cv::Size(640, 360));

    // Rings too thin for the half size are found there and read at full
    // size. The writer fills unused modules from the C generator: seeded,
    // so the code is the same whatever ran before.
    std::srand(7);
    const auto [thin, thinLog] = read(drawnCode("thin rings", 64, 0.5, {0.37, 0.21}, HorizontalSnakeSmall, 4.5));
    EXPECT_EQ(thin.code, Success) << thinLog;
    EXPECT_EQ(thin.payload.text, "thin rings");
    EXPECT_EQ(thin.workingSize, cv::Size(1280, 720));
    // The full size as captured comes before any mirrored try.
    EXPECT_FALSE(thin.mirrored);
    ASSERT_FALSE(thin.steps.empty());
    EXPECT_TRUE(thin.steps.front().reduced);
    EXPECT_FALSE(thin.steps.back().reduced);
    EXPECT_NE(thinLog.find("the half size found a code but did not read it"), std::string::npos);

    // Without a hub at half size there is none at full size, nor in the
    // mirror image: one search.
    const auto [empty, emptyLog] = read(cv::Mat(720, 1280, CV_8UC3, cv::Scalar(90, 140, 200)));
    EXPECT_EQ(empty.code, InnerCircleNotFound);
    ASSERT_EQ(empty.steps.size(), 1u) << emptyLog;
    EXPECT_EQ(empty.steps[0].stage, Stage::InnerCircle);
    EXPECT_TRUE(empty.steps[0].reduced);

    // An image too small for a half size whose bands stay readable is read as it is.
    const auto [small, smallLog] = read(drawnCode("small", 32, 0.5, {0.37, 0.21}, HorizontalSnakeSmall, 9, {640, 480}));
    EXPECT_EQ(small.code, Success) << smallLog;
    EXPECT_EQ(small.workingSize, cv::Size(640, 480));
    EXPECT_EQ(small.payload.text, "small");
}

} // namespace
} // namespace orb
