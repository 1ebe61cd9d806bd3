#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/camera_read.h"
#include "orb/drawing/code_drawer.h"
#include "orb/drawing/text_code.h"
#include "orb/finder/candidate_view.h"
#include "orb/finder/code_finder.h"
#include "orb/pipeline.h"
#include "orb/reader.h"

namespace orb {
namespace {

const std::string kText = "camera 0042";

// A grey black-and-white code, a little off centre and small in its
// image, so only the search finds it.
cv::Mat drawnCode(double pitch = 7)
{
    DrawOptions drawing;
    drawing.pitch = pitch;
    drawing.startAngle = 0.7;
    drawing.centreOffset = {-180, 60};
    drawing.canvas = {1280, 720};
    const TextCode code = writeTextCode(kText, {}, BlackAndWhite);
    cv::Mat grey;
    cv::cvtColor(drawCode(code.modules, code.modulesPerRing, code.ringCount, drawing).image, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

TEST(CameraRead, LightOnDarkReadsAsReadilyAsDarkOnLight)
{
    const cv::Mat code = drawnCode();
    const cv::Mat swapped = swappedPolarity(code);
    ASSERT_EQ(swappedPolarity(swapped).at<std::uint8_t>(10, 10), code.at<std::uint8_t>(10, 10));

    const ReadResult read = readCode(swapped);
    ASSERT_TRUE(read) << read.errorText();
    EXPECT_EQ(read.text(), kText);
    const ReadResult plain = readCode(code);
    ASSERT_TRUE(plain);
    EXPECT_NEAR(read.position.centre.x, plain.position.centre.x, 2.0);
    EXPECT_NEAR(read.position.centre.y, plain.position.centre.y, 2.0);
    const std::vector<ReadResult> all = readCodes(swapped);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all.front().text(), kText);

    // The alpha channel is not light to be swapped.
    cv::Mat bgra;
    cv::cvtColor(code, bgra, cv::COLOR_GRAY2BGRA);
    std::vector<cv::Mat> channels;
    cv::split(swappedPolarity(bgra), channels);
    EXPECT_EQ(cv::countNonZero(channels[3] != 255), 0);
}

TEST(CameraRead, HardShadowAcrossTheCodeReads)
{
    // Dark falls on everything left of a line through the code, leaving a
    // third of the light: no single level splits both halves.
    cv::Mat code = drawnCode();
    const ReadResult clean = readCode(code);
    ASSERT_TRUE(clean);
    const int edge = static_cast<int>(clean.position.centre.x - 0.4 * clean.position.outerRing.size.width / 2);
    cv::Mat shadowed = code.clone();
    shadowed.colRange(0, edge) *= 0.35;
    const ReadResult read = readCode(shadowed);
    ASSERT_TRUE(read) << read.errorText();
    EXPECT_EQ(read.text(), kText);
}

TEST(CameraRead, ViewsKeepTheCutsSizeAndSharpenBlur)
{
    cv::Mat edge(100, 100, CV_8UC1, cv::Scalar(230));
    edge.colRange(0, 50) = 20;
    cv::Mat blurred;
    cv::GaussianBlur(edge, blurred, cv::Size(), 4);
    const std::vector<CameraView> views = cameraViews(blurred, cv::RotatedRect({50, 50}, {110, 110}, 0));
    ASSERT_FALSE(views.empty());
    for (const CameraView& view : views) {
        EXPECT_EQ(view.image.size(), blurred.size());
        EXPECT_EQ(view.image.type(), CV_8UC1);
    }
    // The sharpened view's edge is steeper than the blurred one's.
    const auto step = [](const cv::Mat& image) { return image.at<std::uint8_t>(50, 53) - image.at<std::uint8_t>(50, 47); };
    for (const CameraView& view : views)
        if (view.repair == CameraRepair::Sharpened) {
            EXPECT_GT(step(view.image), step(blurred));
        }
}

TEST(CameraRead, DefocusTooWideToSharpenReadsOnceUndone)
{
    const double pitch = 7;
    cv::Mat blurred;
    cv::GaussianBlur(drawnCode(pitch), blurred, cv::Size(), 0.8 * pitch);
    cv::Mat noise(blurred.size(), CV_8S);
    cv::randn(noise, 0, 3);
    cv::add(blurred, noise, blurred, cv::noArray(), CV_8U);
    const ReadResult read = readCode(blurred);
    ASSERT_TRUE(read) << read.errorText();
    EXPECT_EQ(read.text(), kText);

    // Beyond what the unsharp mask restores: only the views that undo the
    // measured blur read the place.
    const std::vector<CodeCandidate> found = findCodeCandidates(blurred);
    ASSERT_FALSE(found.empty());
    const CandidateView cut = cutCandidate(blurred, found.front(), CandidateViewOptions().discRadii.back());
    PipelineOptions pipeline;
    pipeline.maxWorkingWidth = 0;
    bool undone = false;
    for (const CameraView& view : cameraViews(cut.image, cut.hub, measuredCentreBlur(cut.image, cut.hub))) {
        pipeline.innerCircle = view.hub;
        const bool reads = runPipeline(DecoderConfiguration(), view.image, pipeline).code == Success;
        const bool undoes = undoesBlur(view.repair);
        if (!undoes) {
            EXPECT_FALSE(reads) << static_cast<int>(view.repair);
        }
        undone = undone || (undoes && reads);
    }
    EXPECT_TRUE(undone);
}

TEST(CameraRead, ViewsThatUndoASmearCarryTheHubItWasMeasuredOn)
{
    const cv::Mat cut(400, 400, CV_8UC1, cv::Scalar(230));
    const cv::RotatedRect outline({200, 200}, {130, 110}, 0);
    // Measured on another cut of the same place: the shape, not the place.
    const CentreBlur blur{{0, 1.2 * 110 / 6, 0}, cv::RotatedRect({60, 60}, {110, 110}, 0)};
    const std::vector<CameraView> views = cameraViews(cut, outline, blur);
    bool narrower = false;
    for (const CameraView& view : views) {
        EXPECT_EQ(view.hub.center, outline.center);
        EXPECT_EQ(view.hub.size, undoesBlur(view.repair) ? blur.hub.size : outline.size);
        narrower = narrower || view.repair == CameraRepair::DeblurredNarrower;
    }
    EXPECT_TRUE(narrower);
    // A smear's undoing is also tried held down less, last; a defocus's is
    // not, whose response has no zeros for a fainter share to reach past.
    EXPECT_EQ(views.back().repair, CameraRepair::DeblurredFainter);
    const CentreBlur defocus{{0.5 * 110 / 6, 0.5 * 110 / 6, 0}, outline};
    for (const CameraView& view : cameraViews(cut, outline, defocus))
        EXPECT_NE(view.repair, CameraRepair::DeblurredFainter);
}

TEST(CameraRead, ReadsReportTheBytesCorrected)
{
    const ReadResult clean = readCode(drawnCode());
    ASSERT_TRUE(clean);
    EXPECT_EQ(clean.correctedErrors, 0);
    EXPECT_EQ(clean.erasures, 0);
}

} // namespace
} // namespace orb
