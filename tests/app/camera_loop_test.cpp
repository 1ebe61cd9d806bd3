#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include <sstream>

#include "app/camera_loop.h"
#include "app/file_mode.h"
#include "support/camera_clip.h"
#include "child_process.h"
#include "orb/decoder.h"
#include "orb/logger.h"

using namespace app;
using testing_support::countOf;

namespace {

// The scene of a card held up on a 640 x 480 frame.
class CameraFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        card = testing_support::codeCard(testing_support::kClipText, 300, 8);
        ASSERT_TRUE(testing_support::readsClipText(card)) << "the drawn code card must read before the camera loop can";
        blank = testing_support::sceneFrame(size);
        withCode = testing_support::sceneFrame(size, card, {170, 90});
        state.startTicks = currentTicks();
    }

    // Runs the frame work on a copy, so the scene frames stay as drawn.
    std::string process(const cv::Mat& frame)
    {
        std::ostringstream out;
        cv::Mat copy = frame.clone();
        processCameraFrame(state, copy, finder, out);
        return out.str();
    }

    const cv::Size size{640, 480};
    cv::Mat card, blank, withCode;
    CameraRunState state;
    CodeAreaFinder finder;
};

} // namespace

TEST_F(CameraFrames, DecodesTheFirstFrameWholeThenOnlyWhatMoves)
{
    // The finder held off: this is about the moved area alone.
    state.nextFinderTicks = std::numeric_limits<std::int64_t>::max();
    // A close-up of the card: the first frame is decoded whole.
    const std::string first = process(card);
    EXPECT_EQ(first.rfind("Output:\tHELLO CAMERA\t", 0), 0u) << first;
    EXPECT_NE(first.find(" ms, \t"), std::string::npos);
    EXPECT_NE(first.find(" fps\n"), std::string::npos);
    EXPECT_EQ(process(card), "") << "a still scene is not decoded again";
    // The card held up in a wider scene: only the part that moved is read.
    EXPECT_EQ(process(blank), "");
    EXPECT_EQ(countOf(process(withCode), "Output:\tHELLO CAMERA\t"), 1);
    EXPECT_EQ(process(withCode), "");
    EXPECT_EQ(process(blank), "") << "nothing to read where the card left";
    state.measuring = false;
    EXPECT_EQ(process(withCode), "Output:\tHELLO CAMERA\n");
    EXPECT_EQ(state.frameCount, 7u);
}

TEST_F(CameraFrames, ACodeReadInTheMovedAreaIsMarkedWhereItLiesInTheFrame)
{
    state.nextFinderTicks = std::numeric_limits<std::int64_t>::max();
    process(blank);
    ASSERT_EQ(countOf(process(withCode), "Output:\tHELLO CAMERA"), 1);
    ASSERT_EQ(state.marks.codes().size(), 1u);
    const orb::ReadResult whole = orb::readCode(withCode);
    ASSERT_TRUE(whole);
    EXPECT_LT(cv::norm(state.marks.codes().front().centre - whole.position.centre), 2.0);
    EXPECT_EQ(state.marks.codes().front().text, "HELLO CAMERA");
}

TEST_F(CameraFrames, BinarizedColourReadsNothingUntilCodeTypeOrBinarizationChanges)
{
    process(blank);
    state.binarized = true;
    state.codeType = orb::Color;
    EXPECT_EQ(process(withCode), "");
    process(blank);
    state.codeType = orb::BlackAndWhite;
    EXPECT_EQ(countOf(process(withCode), "Output:\tHELLO CAMERA"), 1);
    // The frame left behind is the one-channel picture the decoder saw.
    cv::Mat frame = withCode.clone();
    processCameraFrame(state, frame, finder, std::cout);
    EXPECT_EQ(frame.channels(), 1);
}

TEST_F(CameraFrames, InvertedFramesAreComplemented)
{
    state.inverted = true;
    cv::Mat frame = blank.clone();
    std::ostringstream out;
    processCameraFrame(state, frame, finder, out);
    EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(185, 185, 185));
    EXPECT_EQ(frame.at<cv::Vec3b>(479, 0), cv::Vec3b(45, 45, 45));
}

TEST(CameraKeys, SpaceResetsCodeTypeAndDistortionsButNotTheToggles)
{
    CameraRunState state;
    std::ostringstream out;
    for (char key : {'c', 'b', 'e', 'i', 'n', '9', 'p', '4'}) EXPECT_TRUE(handleCameraKey(state, key, out));
    EXPECT_EQ(state.codeType, orb::Color);
    EXPECT_DOUBLE_EQ(state.levels.noise, 0.225);
    EXPECT_DOUBLE_EQ(state.levels.perspective, 0.2);
    EXPECT_TRUE(handleCameraKey(state, ' ', out));
    EXPECT_EQ(state.codeType, orb::BlackAndWhite);
    EXPECT_EQ(state.target, DistortionTarget::None);
    EXPECT_DOUBLE_EQ(state.levels.noise, 0);
    EXPECT_DOUBLE_EQ(state.levels.perspective, 0);
    EXPECT_TRUE(state.binarized && state.enhanced && state.inverted);
    EXPECT_EQ(out.str(), "Set code type to Color\n"
                         "Noise [0,9]\n"
                         "Noise Level: 9\n"
                         "Perspective Distortion [0,9]\n"
                         "Perspective Distortion Level: 4\n"
                         "No Distortion, code type = BlackAndWhite\n");
}

TEST(CameraKeys, DigitsWithoutTargetAndUnknownKeysChangeNothing)
{
    CameraRunState state;
    std::ostringstream out;
    for (int key : {int('5'), int('0'), -1, int('z'), 255, int('X')}) EXPECT_TRUE(handleCameraKey(state, key, out));
    EXPECT_EQ(out.str(), "");
    EXPECT_DOUBLE_EQ(state.levels.perspective + state.levels.noise + state.levels.area, 0);
    EXPECT_TRUE(handleCameraKey(state, 't', out));
    EXPECT_TRUE(handleCameraKey(state, 'v', out));
    EXPECT_FALSE(state.measuring || state.showOutput);
    EXPECT_FALSE(handleCameraKey(state, 27, out));
    EXPECT_FALSE(handleCameraKey(state, 'x', out));
}

TEST(CameraKeys, StatusTextShowsRateCodeTypeAndToggles)
{
    CameraRunState state;
    state.codeType = orb::Color;
    state.binarized = true;
    EXPECT_EQ(cameraStatusText(state, 27), "27 fps | Color | Inverted: false | Binarized: true | Enhanced: false");
}

TEST_F(CameraFrames, LibraryErrorsFailOnlyTheirFrame)
{
    std::ostringstream log;
    orb::logger().setConsoleStream(log);
    const int previousLevel = orb::logger().consoleLevel();
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Debug));
    const FrameReader failing = [](const cv::Mat&, const ConsoleRead&) -> orb::ReadResult {
        static int calls = 0;
        if (++calls % 2) throw cv::Exception(cv::Error::StsBadArg, "at least 4 corresponding point sets", "fit",
                                             __FILE__, __LINE__);
        throw std::bad_alloc();
    };
    std::ostringstream out;
    state.nextFinderTicks = std::numeric_limits<std::int64_t>::max(); // the area's decode alone
    for (const cv::Mat* scene : {&card, &blank}) {
        cv::Mat frame = scene->clone();
        EXPECT_NO_THROW(processCameraFrame(state, frame, finder, out, failing));
    }
    orb::logger().setConsoleStream(std::cout);
    orb::logger().setConsoleLevel(previousLevel);

    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(state.faultedFrames, 2u);
    // Warned once, then kept out of sight so a fault that repeats cannot flood the console.
    EXPECT_NE(log.str().find("Warning\tFrame 1 not decoded: "), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("at least 4 corresponding point sets"), std::string::npos);
    EXPECT_NE(log.str().find("Debug\tFrame 2 not decoded: std::bad_alloc\n"), std::string::npos) << log.str();
    // The run goes on: the next frame with the card is read.
    EXPECT_EQ(countOf(process(withCode), "Output:\tHELLO CAMERA"), 1);
}

TEST_F(CameraFrames, WholeFrameSearchReadsWhatTheMovedAreaMisses)
{
    EXPECT_EQ(countOf(process(card), "Output:\tHELLO CAMERA\t"), 1);
    // A still scene: no moved area, so the finder reads the whole frame.
    EXPECT_EQ(countOf(process(card), "Output:\tHELLO CAMERA\t"), 1);
    EXPECT_GT(state.nextFinderTicks, 0);
    // While the search is held off, the next still frame gives nothing.
    state.nextFinderTicks = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(process(card), "");
    // The card held up in a wider scene, then held still: read both times.
    // (Each frame is given the finder's turn: when it comes is a matter of time.)
    for (int frame = 0; frame < 2; ++frame) {
        state.nextFinderTicks = 0;
        EXPECT_EQ(countOf(process(withCode), "Output:\tHELLO CAMERA\t"), 1) << "frame " << frame;
    }
}

TEST_F(CameraFrames, ASearchLooksFirstWhereTheLastCodeWas)
{
    // The areas each search looks in; the moved area is never read, so
    // every frame comes to the search.
    std::vector<cv::Rect> searched;
    const FrameReader searchOnly = [&](const cv::Mat& image, const ConsoleRead& options) {
        if (options.wholeImage) return orb::ReadResult{};
        searched.push_back(options.searchArea);
        return readConsole(image, options);
    };
    const auto run = [&](const cv::Mat& scene) {
        std::ostringstream out;
        cv::Mat frame = scene.clone();
        state.nextFinderTicks = 0;
        processCameraFrame(state, frame, finder, out, searchOnly);
        return countOf(out.str(), "Output:\tHELLO CAMERA\t");
    };
    const cv::Point2f centre = orb::readCode(withCode).position.centre;

    EXPECT_EQ(run(withCode), 1); // nothing read before: the whole frame
    EXPECT_EQ(run(withCode), 1); // held still: around its hub, a small part of the frame
    ASSERT_EQ(searched.size(), 2u);
    EXPECT_TRUE(searched[0].empty());
    EXPECT_TRUE(searched[1].contains(cv::Point(centre)));
    EXPECT_LT(searched[1].area() * 4, withCode.size().area());
    // Moved far: not there, so the whole frame, and then around its new place.
    const cv::Mat moved = testing_support::sceneFrame(size, card, {10, 170});
    EXPECT_EQ(run(moved) + run(moved), 2);
    ASSERT_EQ(searched.size(), 5u);
    EXPECT_TRUE(!searched[2].empty() && searched[3].empty() && !searched[4].contains(cv::Point(centre)));
    // Gone: a search that reads nothing forgets it.
    EXPECT_EQ(run(blank) + run(blank), 0);
    ASSERT_EQ(searched.size(), 8u);
    EXPECT_TRUE(searched[7].empty());
}
