// The code finder and the reads it leads to: codes anywhere in a frame,
// mapped back to the caller's pixels, and bounded work on hostile images.
#include <gtest/gtest.h>

#include <random>

#include <opencv2/imgproc.hpp>

#include "orb/drawing/text_code.h"
#include "orb/finder/candidate_view.h"
#include "orb/finder/code_finder.h"
#include "orb/finder/local_threshold.h"
#include "orb/logger.h"
#include "orb/found_codes.h"
#include "orb/reader.h"
#include "support/photo_scenes.h"

using namespace orb;

namespace {

class CodeFinder : public ::testing::Test {};

// A code of `pitch` drawn at `offset` from the middle of a white frame.
DrawnCode codeAt(const std::string& text, cv::Point2d offset, cv::Size canvas = {1280, 720}, double pitch = 6)
{
    DrawOptions drawing;
    drawing.pitch = pitch;
    drawing.hubRadius = 3;
    drawing.centreOffset = offset;
    drawing.canvas = canvas;
    return drawText(text, TextCodeOptions{}, drawing);
}

TEST_F(CodeFinder, FindsTheHubOfASmallCodeFarFromTheCentre)
{
    const DrawnCode drawn = codeAt("corner", {-420.37, 200.21});
    const cv::Point2d centre = drawn.plan.placement.centre;
    const double hub = drawn.plan.geometry.hubRadius * drawn.plan.placement.pitch;
    const std::vector<CodeCandidate> candidates = findCodeCandidates(drawn.image);
    ASSERT_FALSE(candidates.empty());
    EXPECT_LT(cv::norm(cv::Point2d(candidates[0].centre) - centre), 0.1 * hub);
    EXPECT_NEAR(candidates[0].hubRadius, hub, 0.15 * hub);

    // The plain read misses it; the finder reads it and says where it is.
    ReaderOptions plain;
    plain.findCodes = false;
    EXPECT_FALSE(readCode(drawn.image, plain));
    const ReadResult result = readCode(drawn.image);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.text(), "corner");
    EXPECT_LT(cv::norm(cv::Point2d(result.position.centre) - centre), 1.5);
    const double outer = drawn.plan.geometry.outerRadius() * drawn.plan.placement.pitch;
    EXPECT_NEAR((result.position.outerRing.size.width + result.position.outerRing.size.height) / 4, outer, 0.1 * outer);
}

// Large frames are reduced by whole halvings and a rest below 2, and odd
// sizes lose their last row or column to the halving: the hub must still
// come back where it is in the caller's pixels.
TEST_F(CodeFinder, FindsTheHubInFramesOfEveryReduction)
{
    for (const cv::Size canvas : {cv::Size(1921, 1081), cv::Size(2561, 1439), cv::Size(4031, 3023)}) {
        const double pitch = 6.0 * canvas.width / 1280;
        const DrawnCode drawn = codeAt("reduced", {0.3 * canvas.width, -0.25 * canvas.height}, canvas, pitch);
        const cv::Point2d centre = drawn.plan.placement.centre;
        const double hub = drawn.plan.geometry.hubRadius * drawn.plan.placement.pitch;
        const std::vector<CodeCandidate> candidates = findCodeCandidates(drawn.image);
        ASSERT_FALSE(candidates.empty()) << canvas;
        EXPECT_LT(cv::norm(cv::Point2d(candidates[0].centre) - centre), 0.1 * hub) << canvas;
        EXPECT_NEAR(candidates[0].hubRadius, hub, 0.15 * hub) << canvas;
    }
}

// One code wanted, the coarse pass is read first; a hub too small for it
// is still found and read by the fine pass after it.
TEST_F(CodeFinder, ReadsAHubOnlyTheFinePassSees)
{
    const DrawnCode drawn = codeAt("fine only", {-380.37, 170.21}, {1280, 720}, 2.2);
    ReaderOptions tracing;
    tracing.trace = true;
    const ReadResult result = readCode(drawn.image, tracing);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.text(), "fine only");
    const auto searched = [&](const std::string& view) {
        return std::find_if(result.trace.begin(), result.trace.end(), [&](const TraceStep& step) {
            return step.stage == "finder search" && step.view == view;
        });
    };
    const auto coarse = searched("full size, coarse pass"), fine = searched("full size, fine passes");
    ASSERT_NE(coarse, result.trace.end());
    ASSERT_NE(fine, result.trace.end());
    EXPECT_EQ(coarse->places, 0);
    EXPECT_GE(fine->places, 1);
    EXPECT_LT(coarse, fine);
}

// A smear wears gaps into the thin ring round the hub, and the hub joins
// the white beyond it: only the passes that bridge the gaps find it.
TEST_F(CodeFinder, FindsASmearedHubOnceTheRingsGapsAreBridged)
{
    const double pitch = 8;
    const DrawnCode drawn = codeAt("smear 204", {-100.37, 40.21}, {1280, 720}, pitch);
    const cv::Point2d centre = drawn.plan.placement.centre;
    cv::Mat smeared;
    cv::blur(drawn.image, smeared, cv::Size(1, static_cast<int>(2 * pitch) | 1));
    const auto finds = [&](const FinderOptions& options) {
        const std::vector<CodeCandidate> found = findCodeCandidates(smeared, options);
        return std::any_of(found.begin(), found.end(), [&](const CodeCandidate& candidate) {
            return cv::norm(cv::Point2d(candidate.centre) - centre) < pitch;
        });
    };
    EXPECT_FALSE(finds(FinderOptions()));
    FinderOptions bridged;
    bridged.passes = smearPasses();
    EXPECT_TRUE(finds(bridged));
}

// A light blot over the hub's ring lets the hub run out into the paper: the
// search that looks for broken rings finds it from its dot, where the ring
// is there on most of its turn. Left with a third of its ring, a dot is no hub.
TEST_F(CodeFinder, FindsAHubWhoseRingALightBlotBrokeOpen)
{
    const double pitch = 8;
    const DrawnCode drawn = codeAt("blot 318", {-100.37, 40.21}, {1280, 720}, pitch);
    const cv::Point2d centre = drawn.plan.placement.centre;
    const double hub = drawn.plan.geometry.hubRadius * pitch;
    const auto blotted = [&](double across) {
        cv::Mat image = drawn.image.clone();
        const cv::Point2d at = centre + hub * cv::Point2d(-0.6, -0.9);
        cv::circle(image, at, static_cast<int>(across * hub), cv::Scalar::all(225), cv::FILLED, cv::LINE_AA);
        cv::GaussianBlur(image, image, cv::Size(3, 3), 0);
        return image;
    };
    const auto hubIn = [&](const cv::Mat& image, const FinderOptions& options) {
        const std::vector<CodeCandidate> found = findCodeCandidates(image, options);
        return std::find_if(found.begin(), found.end(), [&](const CodeCandidate& candidate) {
            return cv::norm(cv::Point2d(candidate.centre) - centre) < 0.1 * hub &&
                   std::abs(candidate.hubRadius - hub) < 0.15 * hub;
        }) != found.end();
    };
    FinderOptions broken;
    broken.passes = smearPasses();

    const cv::Mat open = blotted(0.7);
    EXPECT_FALSE(hubIn(open, FinderOptions()));
    EXPECT_TRUE(hubIn(open, broken));

    // A dot in an arc of ring: a hub when the arc runs most of the turn.
    for (const int arc : {0, 120, 300}) {
        cv::Mat drawing(480, 640, CV_8UC1, cv::Scalar(255));
        cv::ellipse(drawing, {320, 240}, {33, 33}, 0, 0, arc, cv::Scalar(0), 10);
        cv::circle(drawing, {320, 240}, 9, cv::Scalar(0), cv::FILLED);
        const std::vector<CodeCandidate> found = findCodeCandidates(drawing, broken);
        EXPECT_EQ(found.size(), arc > 180 ? 1u : 0u) << arc;
        for (const CodeCandidate& candidate : found) EXPECT_NEAR(candidate.hubRadius, 28, 2) << arc;
    }
}

// The finder turns down white regions without dark near their middle before
// tracing them: a hub seen at the steepest tilt, turned so its box is widest,
// with the smallest dot off its centre, must still count as dark there.
TEST_F(CodeFinder, FindsASteeplyTiltedHubWithASmallDotOffCentre)
{
    for (const float turn : {0.0f, 30.0f, 45.0f, 60.0f, 90.0f}) {
        cv::Mat image(480, 640, CV_8UC1, cv::Scalar(255));
        const cv::Point2f centre(320.3f, 240.6f);
        const float major = 40, minor = 9; // axis ratio 0.225
        cv::ellipse(image, cv::RotatedRect(centre, {2.6f * major, 2.6f * minor}, turn), cv::Scalar(0), cv::FILLED);
        cv::ellipse(image, cv::RotatedRect(centre, {2 * major, 2 * minor}, turn), cv::Scalar(255), cv::FILLED);
        // A dot of 0.26 hub radii, 0.2 radii off the centre along the minor axis.
        const float angle = (turn + 90) * static_cast<float>(CV_PI) / 180;
        const cv::Point2f dot = centre + 0.2f * minor * cv::Point2f(std::cos(angle), std::sin(angle));
        cv::ellipse(image, cv::RotatedRect(dot, {0.52f * major, 0.52f * minor}, turn), cv::Scalar(0), cv::FILLED);
        const std::vector<CodeCandidate> candidates = findCodeCandidates(image);
        ASSERT_EQ(candidates.size(), 1u) << "turned " << turn;
        EXPECT_LT(cv::norm(candidates[0].centre - centre), 2.0) << "turned " << turn;
    }
}

// A long white region with a streak down its middle, common in photographs,
// is no flat hub: a tilted code's dot is its hub in small.
TEST_F(CodeFinder, RefusesAFlatRegionWithAStreakForADot)
{
    cv::Mat region(480, 640, CV_8UC1, cv::Scalar(255));
    const cv::Point2f centre(320.3f, 240.6f);
    const float major = 60, minor = 18; // axis ratio 0.3
    cv::ellipse(region, cv::RotatedRect(centre, {2.6f * major, 2.6f * minor}, 30), cv::Scalar(0), cv::FILLED);
    cv::ellipse(region, cv::RotatedRect(centre, {2 * major, 2 * minor}, 30), cv::Scalar(255), cv::FILLED);
    cv::Mat streak = region.clone(), dot = region.clone();
    cv::ellipse(streak, cv::RotatedRect(centre, {1.2f * major, 0.2f * minor}, 30), cv::Scalar(0), cv::FILLED);
    EXPECT_TRUE(findCodeCandidates(streak).empty());
    // The same region with a dot shaped like it is a hub.
    cv::ellipse(dot, cv::RotatedRect(centre, {0.7f * major, 0.7f * minor}, 30), cv::Scalar(0), cv::FILLED);
    EXPECT_EQ(findCodeCandidates(dot).size(), 1u);
}

// A card seen nearly edge-on: its hub an ellipse of axis ratio 0.35. The
// finder finds it, and the cut stretches it round so the code comes out
// about as it was drawn, with positions mapped back through the stretch.
TEST_F(CodeFinder, FindsAFlatHubAndCutsItRound)
{
    const DrawnCode drawn = codeAt("edge on", {60.37, -30.21}, {1280, 720}, 10);
    const cv::Point2d centre = drawn.plan.placement.centre;
    const double hub = drawn.plan.geometry.hubRadius * drawn.plan.placement.pitch;
    const double turn = 0.5, squeeze = 0.35;
    // Squeezed along a direction turned by `turn`, about the code's centre.
    const cv::Matx22d rotation(std::cos(turn), -std::sin(turn), std::sin(turn), std::cos(turn));
    const cv::Matx22d linear = rotation * cv::Matx22d(1, 0, 0, squeeze) * rotation.t();
    const cv::Vec2d shift = cv::Vec2d(centre.x, centre.y) - linear * cv::Vec2d(centre.x, centre.y);
    const cv::Matx23d flatten(linear(0, 0), linear(0, 1), shift[0], linear(1, 0), linear(1, 1), shift[1]);
    cv::Mat flat;
    cv::warpAffine(drawn.image, flat, cv::Mat(flatten), drawn.image.size(), cv::INTER_AREA, cv::BORDER_CONSTANT,
                   cv::Scalar::all(255));

    const std::vector<CodeCandidate> candidates = findCodeCandidates(flat);
    ASSERT_FALSE(candidates.empty());
    const CodeCandidate& found = candidates.front();
    EXPECT_LT(cv::norm(cv::Point2d(found.centre) - centre), 0.1 * hub);
    const double major = std::max(found.hub.size.width, found.hub.size.height) / 2;
    const double minor = std::min(found.hub.size.width, found.hub.size.height) / 2;
    EXPECT_NEAR(major, hub, 0.15 * hub);
    EXPECT_NEAR(minor / major, squeeze, 0.07);

    const CandidateViewOptions cutting;
    const CandidateView view = cutCandidate(flat, found, 5.5, cutting);
    ASSERT_FALSE(view.image.empty());
    EXPECT_NEAR(view.hub.size.width, 2 * cutting.hubRadius, 1e-3);
    EXPECT_NEAR(view.hub.size.height, 2 * cutting.hubRadius, 1e-3);
    const cv::Vec2d back = view.toSource * cv::Vec3d(view.hub.center.x, view.hub.center.y, 1);
    EXPECT_LT(cv::norm(cv::Point2d(back[0], back[1]) - cv::Point2d(found.centre)), 1e-3);
    // The white hub in the cut is round: walking out from the dot, the ring
    // begins at the hub radius in every direction.
    cv::Mat grey;
    cv::cvtColor(view.image, grey, cv::COLOR_BGR2GRAY);
    for (int k = 0; k < 16; ++k) {
        const cv::Point2d way(std::cos(k * CV_PI / 8), std::sin(k * CV_PI / 8));
        double radius = 0.5 * cutting.hubRadius;
        while (radius < 2 * cutting.hubRadius &&
               grey.at<uchar>(cv::Point(cv::Point2d(view.hub.center) + radius * way)) > 128)
            radius += 1;
        EXPECT_NEAR(radius, cutting.hubRadius, 0.12 * cutting.hubRadius) << "direction " << k;
    }

    const ReadResult result = readFoundCode(flat);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.text(), "edge on");
    EXPECT_LT(cv::norm(cv::Point2d(result.position.centre) - centre), 1.5);
}

// A found place is first read as captured with the first code type only;
// a mirrored code must still come through the full try that follows.
TEST_F(CodeFinder, ReadsAMirroredCodeOnlyTheSearchFinds)
{
    const DrawnCode drawn = codeAt("glass", {-380.37, -180.21});
    cv::Mat mirrored;
    cv::flip(drawn.image, mirrored, 1);
    ReaderOptions plain;
    plain.findCodes = false;
    ASSERT_FALSE(readCode(mirrored, plain));
    const ReadResult result = readCode(mirrored);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.text(), "glass");
    EXPECT_TRUE(result.mirrored);
}

TEST_F(CodeFinder, ReadsAColourCodeOnlyTheSearchFindsWithAndWithoutEnhancement)
{
    // Its hub and zebras are black and white, so the cut's black-and-white
    // try gets past them and fails only at the coloured data: the colour try
    // must still come.
    DrawOptions drawing;
    drawing.pitch = 7;
    drawing.hubRadius = 3;
    drawing.centreOffset = {380.37, -170.21};
    drawing.codeType = Color;
    const DrawnCode drawn = drawText("colour far", TextCodeOptions{}, drawing);
    for (const bool enhance : {true, false}) {
        ReaderOptions options;
        options.enhance = enhance;
        const ReadResult result = readCode(drawn.image, options);
        ASSERT_TRUE(result) << "enhance " << enhance << ": " << result.errorText();
        EXPECT_EQ(result.text(), "colour far");
        EXPECT_EQ(result.codeType, CodeType::Color);
        EXPECT_LT(cv::norm(cv::Point2d(result.position.centre) - drawn.plan.placement.centre), 1.5);
    }
}

TEST_F(CodeFinder, ReadsACentredCodeThatAStrayDotHides)
{
    DrawnCode drawn = codeAt("stray dot", {0.37, 0.21}, {1280, 720}, 12);
    cv::circle(drawn.image, {40, 40}, 8, cv::Scalar::all(0), cv::FILLED);
    const ReadResult result = readCode(drawn.image);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.text(), "stray dot");
}

TEST_F(CodeFinder, ReadsACodeWhoseCutLeavesTheImageInEveryInputFormat)
{
    // The cut reaches past the edge: the border is repeated, not black.
    const DrawnCode drawn = codeAt("edge", {-560.37, -290.21});
    cv::Mat gray, bgra;
    cv::cvtColor(drawn.image, gray, cv::COLOR_BGR2GRAY);
    cv::cvtColor(drawn.image, bgra, cv::COLOR_BGR2BGRA);
    for (const cv::Mat& image : {drawn.image, gray, bgra}) {
        const ReadResult result = readCode(image);
        ASSERT_TRUE(result) << image.channels() << " channels: " << result.errorText();
        EXPECT_EQ(result.text(), "edge");
        EXPECT_LT(cv::norm(cv::Point2d(result.position.centre) - drawn.plan.placement.centre), 1.5);
    }
}

TEST_F(CodeFinder, CutMapsItsPixelsBackToTheImage)
{
    cv::Mat image(400, 600, CV_8UC3, cv::Scalar::all(200));
    CodeCandidate candidate;
    candidate.centre = {100.5f, 50.25f};
    candidate.hubRadius = 20;
    candidate.hub = cv::RotatedRect(candidate.centre, cv::Size2f(40, 40), 0);
    const CandidateView view = cutCandidate(image, candidate, 4.0);
    ASSERT_FALSE(view.image.empty());
    EXPECT_NEAR(view.hub.size.width, 2 * CandidateViewOptions().hubRadius, 1e-3);
    const cv::Vec2d back = view.toSource * cv::Vec3d(view.hub.center.x, view.hub.center.y, 1);
    EXPECT_NEAR(back[0], candidate.centre.x, 1e-3);
    EXPECT_NEAR(back[1], candidate.centre.y, 1e-3);
    // Beyond the disc the card's white, as bright as the (evened-out) card inside.
    const cv::Point inside(cvRound(view.hub.center.x), cvRound(view.hub.center.y));
    EXPECT_EQ(view.image.at<cv::Vec3b>(0, 0), view.image.at<cv::Vec3b>(inside));
    EXPECT_GT(view.image.at<cv::Vec3b>(inside)[0], 200);
}

// The centre of what is dark in `box` of a grey image, weighted by its darkness.
cv::Point2d darkCentre(const cv::Mat& grey, cv::Rect box)
{
    box &= cv::Rect(0, 0, grey.cols, grey.rows);
    cv::Mat darkness;
    cv::subtract(cv::Scalar::all(255), grey(box), darkness);
    cv::threshold(darkness, darkness, 60, 0, cv::THRESH_TOZERO);
    const cv::Moments m = cv::moments(darkness);
    return {box.x + m.m10 / m.m00, box.y + m.m01 / m.m00};
}

// Small dark dots around a hub, and where the cut shows them: every dot's
// centre, mapped back through the cut's map, lands where it lies in the
// image, for cuts that enlarge, shrink, stretch round and leave the image.
TEST_F(CodeFinder, CutPutsEveryDotWhereItsMapSays)
{
    struct Place {
        cv::Point2f centre;
        cv::Size2f hub; // axes of the hub ellipse
        float angle;
    };
    const Place places[] = {
        {{300.37f, 200.21f}, {40, 40}, 0},   // enlarged
        {{40.6f, 370.3f}, {36, 36}, 0},      // enlarged, the cut leaves the image
        {{300.37f, 200.21f}, {150, 150}, 0}, // shrunk
        {{300.37f, 200.21f}, {60, 24}, 30},  // flat: stretched round
    };
    for (const Place& place : places) {
        const double hub = std::max(place.hub.width, place.hub.height) / 2;
        const int radius = 3 + static_cast<int>(hub / 10);
        cv::Mat image(400, 600, CV_8U, cv::Scalar::all(230));
        std::vector<cv::Point2d> drawn;
        const double turn = place.angle * CV_PI / 180;
        const cv::Point2d along(std::cos(turn), std::sin(turn)), across(-std::sin(turn), std::cos(turn));
        for (const double angle : {0.3, 1.4, 2.5, 3.6, 4.7, 5.8}) {
            // On the hub's ellipse grown 2.2 times: well inside the cut's disc.
            const cv::Point2d dot = cv::Point2d(place.centre) + 2.2 * (place.hub.width / 2 * std::cos(angle) * along +
                                                                        place.hub.height / 2 * std::sin(angle) * across);
            if (dot.x < radius + 4 || dot.y < radius + 4 || dot.x > image.cols - radius - 5 || dot.y > image.rows - radius - 5)
                continue;
            drawn.push_back(dot);
            cv::circle(image, cv::Point(cvRound(dot.x * 16), cvRound(dot.y * 16)), radius * 16, cv::Scalar::all(20),
                       cv::FILLED, cv::LINE_AA, 4);
        }
        ASSERT_GE(drawn.size(), 3u);
        std::vector<cv::Point2d> dots;
        for (const cv::Point2d& dot : drawn)
            dots.push_back(darkCentre(image, cv::Rect(cv::Point(dot) - cv::Point(radius + 3, radius + 3),
                                                      cv::Size(2 * radius + 7, 2 * radius + 7))));
        CodeCandidate candidate;
        candidate.centre = place.centre;
        candidate.hub = cv::RotatedRect(place.centre, place.hub, place.angle);
        candidate.hubRadius = (place.hub.width + place.hub.height) / 4;
        const CandidateView view = cutCandidate(image, candidate, 4.0);
        ASSERT_FALSE(view.image.empty());

        cv::Mat dark, labels, stats, centroids;
        cv::threshold(view.image, dark, 120, 255, cv::THRESH_BINARY_INV);
        const int found = cv::connectedComponentsWithStats(dark, labels, stats, centroids);
        ASSERT_EQ(found - 1, static_cast<int>(dots.size())) << "hub " << place.hub;
        for (int label = 1; label < found; ++label) {
            const cv::Point2d centre = darkCentre(
                view.image, cv::Rect(stats.at<int>(label, cv::CC_STAT_LEFT) - 3, stats.at<int>(label, cv::CC_STAT_TOP) - 3,
                                     stats.at<int>(label, cv::CC_STAT_WIDTH) + 6, stats.at<int>(label, cv::CC_STAT_HEIGHT) + 6));
            const cv::Vec2d back = view.toSource * cv::Vec3d(centre.x, centre.y, 1);
            double nearest = 1e9;
            for (const cv::Point2d& dot : dots) nearest = std::min(nearest, cv::norm(cv::Point2d(back[0], back[1]) - dot));
            EXPECT_LT(nearest, 0.1) << "hub " << place.hub << ", dot at " << back;
        }
    }
}

TEST_F(CodeFinder, HostileImagesCostBoundedWorkAndReadNothing)
{
    // A thousand targets, each a dot in a hole in a ring: the search caps them.
    cv::Mat targets(1080, 1920, CV_8UC3, cv::Scalar::all(255));
    std::mt19937 random(3);
    for (int i = 0; i < 1000; ++i) {
        const cv::Point centre(static_cast<int>(random() % 1920), static_cast<int>(random() % 1080));
        const int r = 6 + static_cast<int>(random() % 20);
        cv::circle(targets, centre, 2 * r, cv::Scalar::all(0), cv::FILLED);
        cv::circle(targets, centre, r, cv::Scalar::all(255), cv::FILLED);
        cv::circle(targets, centre, r / 3 + 1, cv::Scalar::all(0), cv::FILLED);
    }
    FinderOptions finding;
    EXPECT_LE(static_cast<int>(findCodeCandidates(targets, finding).size()), finding.maxCandidates);
    const CodeSearch search = searchCodes(targets);
    EXPECT_TRUE(search.codes.empty());
    EXPECT_TRUE(search.candidateLimitReached);
    EXPECT_EQ(static_cast<int>(search.failed.size()), ReaderOptions().maxCandidates);

    // A search alone that finds nothing says so.
    EXPECT_EQ(readFoundCode(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(255))).error, ReadError::InnerCircleNotFound);

    // Noise over a large frame, and degenerate shapes.
    cv::Mat noise(3000, 4000, CV_8UC1);
    cv::randu(noise, 0, 256);
    EXPECT_TRUE(readCodes(noise).empty());
    // A one-pixel checkerboard: a million regions in the thresholded image.
    cv::Mat board(960, 1280, CV_8UC1, cv::Scalar(0));
    for (int y = 0; y < board.rows; ++y)
        for (int x = y % 2; x < board.cols; x += 2) board.at<uchar>(y, x) = 255;
    EXPECT_TRUE(findCodeCandidates(board).empty());
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 5000), cv::Size(5000, 3)})
        EXPECT_TRUE(readCodes(cv::Mat(size, CV_8UC3, cv::Scalar::all(0))).empty()) << size;
}

TEST_F(CodeFinder, LocalThresholdMatchesTheLibrarysAdaptiveThreshold)
{
    // Noise over flat black and white patches, where the mean and the pixel
    // sit at the ends of the range and a saturating difference could slip.
    cv::Mat gray(120, 160, CV_8UC1);
    cv::randu(gray, 0, 256);
    gray(cv::Rect(10, 10, 40, 40)).setTo(0);
    gray(cv::Rect(90, 50, 40, 40)).setTo(255);
    gray(cv::Rect(60, 20, 20, 60)).setTo(250);
    for (const int block : {3, 25, 41})
        for (const double offset : {7.0, 7.6, 1.0, 0.5, 0.0, -3.0}) {
            cv::Mat expected;
            cv::adaptiveThreshold(gray, expected, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, block, offset);
            EXPECT_EQ(cv::countNonZero(darkerThanSurroundings(gray, block, offset) != expected), 0)
                << "block " << block << ", offset " << offset;
        }
}

} // namespace
