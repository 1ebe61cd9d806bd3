// The camera loop as a user meets it: the program's menu starts a camera run
// on a clip, the "Camera" window opens on a private X display, and keys are
// typed into it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/image_modification.h"
#include "support/camera_clip.h"
#include "child_process.h"
#include "orb/decoder.h"
#include "orb/reader.h"
#include "screen_capture.h"
#include "support/temporary_directory.h"

using testing_support::ChildProcess;
using testing_support::countOf;
using TempDir = orb::testing::TemporaryDirectory;
using testing_support::waitUntil;

namespace {

constexpr const char* kOutputLine = "Output:\tHELLO CAMERA\t";
constexpr const char* kMenuLine = "-----------------Menu-----------------\n";

class CameraWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        card = testing_support::codeCard(testing_support::kClipText, 300, 8);
        ASSERT_TRUE(testing_support::readsClipText(card)) << "the drawn code card must read before the camera loop can";
        ASSERT_TRUE(display.ready()) << "Xvfb (package xvfb) could not be started";
    }

    // Starts the program on the clip in frames/ and the camera run, after
    // the menu entries in `before`.
    void startCamera(const std::string& before = "")
    {
        program = std::make_unique<ChildProcess>(
            std::vector<std::string>{std::string(ORB_BINARY_DIR) + "/ScanBench"}, directory.path(),
            std::map<std::string, std::string>{{"DISPLAY", display.name()}, {"QT_QPA_PLATFORM", ""}});
        ASSERT_TRUE(program->started());
        program->write(before + "p\nframes/%04d.png\nb\n2000\ns\n");
    }

    // Ends the menu and waits for the program to save and leave.
    void exitProgram()
    {
        program->write("x\n");
        ASSERT_TRUE(program->waitForExit(60)) << program->output();
        EXPECT_EQ(program->exitCode(), 0);
    }

    std::string findWindow()
    {
        std::string window;
        waitUntil(
            [&] {
                ChildProcess search({"/usr/bin/env", "xdotool", "search", "--name", "^Camera$"}, directory.path(),
                                    {{"DISPLAY", display.name()}}, "search");
                search.waitForExit(10);
                window = search.output();
                window = window.substr(0, window.find('\n'));
                return !window.empty();
            },
            60);
        return window;
    }

    void sendKey(const std::string& window, const std::string& key)
    {
        ChildProcess xdotool({"/usr/bin/env", "xdotool", "key", "--window", window, key}, directory.path(),
                             {{"DISPLAY", display.name()}}, "xdotool");
        ASSERT_TRUE(xdotool.waitForExit(20));
        ASSERT_EQ(xdotool.exitCode(), 0) << "xdotool (package xdotool) failed: " << xdotool.errors();
    }

    // For keys whose effect is the same when pressed twice: presses again
    // when a slow (for example sanitizer) build let a press go unseen.
    bool pressShows(const std::string& window, const std::string& key, const std::string& text)
    {
        const int before = countOf(program->output(), text);
        for (int attempt = 0; attempt < 6; ++attempt) {
            sendKey(window, key);
            if (waitUntil([&] { return countOf(program->output(), text) > before; }, 10)) return true;
        }
        return false;
    }

    bool outputShows(const std::string& text, double seconds)
    {
        return waitUntil([&] { return program->output().find(text) != std::string::npos; }, seconds);
    }

    std::string settingsFile() { return orb::testing::readFile(directory.path() / "decoder_settings.json"); }

    TempDir directory{"scanbench_camera_window"};
    testing_support::VirtualDisplay display{directory.path().string()};
    std::unique_ptr<ChildProcess> program;
    cv::Mat card;
};

} // namespace

TEST_F(CameraWindow, StillCloseUpIsReadAgainAndTheEndOfTheClipEndsTheRun)
{
    testing_support::writeFrame(directory.path(), 0, card);
    for (int i = 1; i < 40; ++i) testing_support::repeatFrame(directory.path(), i, testing_support::framePath(directory.path(), 0));
    // A clip has no modes and a fixed frame size: both requests are refused.
    startCamera("m\n3\nw\n320\nh\n200\n");
    ASSERT_TRUE(waitUntil([&] { return program->errors().find("Camera stream ended\n") != std::string::npos; }, 90))
        << program->errors();
    exitProgram();
    const std::string output = program->output();
    EXPECT_NE(output.find("Warning\tCamera mode 3 not supported. Use default mode.\n"), std::string::npos);
    EXPECT_NE(output.find("Warning\tFrame size 320 x 200 not supported. Use last valid size.\n"), std::string::npos);
    // The first frame is read whole; in the still scene that follows, nothing
    // moves and the code finder reads the frame, as often as its time share allows.
    EXPECT_GE(countOf(output, "Output:"), 2) << output;
    EXPECT_EQ(countOf(output, kOutputLine), countOf(output, "Output:"));
    EXPECT_NE(output.find("------------Modification Options------------\n"), std::string::npos);
    EXPECT_EQ(countOf(output, kMenuLine), 7); // before m, w, h, p, b, s and after the run
    const std::string saved = settingsFile();
    EXPECT_NE(saved.find("\"mode\": -1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"width\": 300"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"height\": 300"), std::string::npos);
}

TEST_F(CameraWindow, MovingCardIsReadInTheFramesThatHoldIt)
{
    const cv::Size size(640, 480);
    const cv::Mat blank = testing_support::sceneFrame(size);
    std::srand(3);
    app::DistortionLevels tilt;
    tilt.perspective = 1 / 20.0;
    int index = 0;
    for (int i = 0; i < 4; ++i) testing_support::writeFrame(directory.path(), index++, blank);
    const int codeFrames = 8;
    for (int k = 0; k < codeFrames; ++k) {
        const cv::Point at(40 + (k * 53) % 280, 20 + (k * 31) % 140);
        testing_support::writeFrame(directory.path(), index++,
                                    testing_support::sceneFrame(size, app::distortImage(tilt, card), at));
        testing_support::writeFrame(directory.path(), index++, blank);
    }
    startCamera();
    ASSERT_TRUE(waitUntil([&] { return program->errors().find("Camera stream ended\n") != std::string::npos; }, 90))
        << program->errors();
    exitProgram();
    const std::string output = program->output();
    // Grid sampling draws random numbers, so allow one unlucky frame.
    EXPECT_EQ(countOf(output, "Output:"), countOf(output, kOutputLine)) << output;
    EXPECT_GE(countOf(output, kOutputLine), codeFrames - 1) << output;
    EXPECT_LE(countOf(output, kOutputLine), codeFrames) << output;
    EXPECT_NE(settingsFile().find("\"width\": 640"), std::string::npos);
}

TEST_F(CameraWindow, KeysToggleBinarizationCodeTypeAndDistortionAndEscapeEndsTheRun)
{
    // The card shows in every eighth frame of a clip long enough for the keys.
    const cv::Size size(640, 480);
    testing_support::writeFrame(directory.path(), 0, testing_support::sceneFrame(size));
    testing_support::writeFrame(directory.path(), 4, testing_support::sceneFrame(size, card, {170, 90}));
    const auto blankFile = testing_support::framePath(directory.path(), 0);
    const auto cardFile = testing_support::framePath(directory.path(), 4);
    for (int i = 1; i < 12000; ++i)
        if (i != 4) testing_support::repeatFrame(directory.path(), i, i % 8 == 4 ? cardFile : blankFile);
    startCamera();
    const std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << program->errors();
    ASSERT_TRUE(outputShows(kOutputLine, 60)) << program->output();

    // Binarized colour decoding fails on the one-channel picture: no output
    // until the code type is black and white again.
    sendKey(window, "b");
    sendKey(window, "c");
    ASSERT_TRUE(outputShows("Set code type to Color\n", 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    sendKey(window, "c");
    ASSERT_TRUE(outputShows("Set code type to BlackAndWhite\n", 30));
    {
        const std::string output = program->output();
        const std::size_t colour = output.find("Set code type to Color\n");
        const std::size_t blackAndWhite = output.find("Set code type to BlackAndWhite\n");
        EXPECT_EQ(countOf(output.substr(colour, blackAndWhite - colour), "Output:"), 0) << output;
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::string output = program->output();
            return output.find(kOutputLine, output.find("Set code type to BlackAndWhite\n")) != std::string::npos;
        },
        60))
        << "binarized black-and-white frames are read";

    EXPECT_TRUE(pressShows(window, "p", "Perspective Distortion [0,9]\n"));
    EXPECT_TRUE(pressShows(window, "1", "Perspective Distortion Level: 1\n"));
    EXPECT_TRUE(pressShows(window, "space", "No Distortion, code type = BlackAndWhite\n"));
    sendKey(window, "c");
    ASSERT_TRUE(waitUntil([&] { return countOf(program->output(), "Set code type to Color\n") == 2; }, 30));
    sendKey(window, "Escape");
    ASSERT_TRUE(waitUntil([&] { return countOf(program->output(), kMenuLine) == 4; }, 30)) << program->output();
    exitProgram();
    EXPECT_EQ(program->errors().find("Camera stream ended"), std::string::npos) << "ended by ESC, not by the clip";
    const std::string saved = settingsFile();
    EXPECT_NE(saved.find("\"codeType\": \"Color\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"width\": 640"), std::string::npos);
    EXPECT_NE(saved.find("\"height\": 480"), std::string::npos);
}

// The frame `scene` as the window shows it on the screen: the part of the
// screenshot that matches it best, marks and status line notwithstanding.
cv::Mat shownFrame(const cv::Mat& screen, const cv::Mat& scene)
{
    if (screen.rows < scene.rows || screen.cols < scene.cols) return {};
    cv::Mat match;
    cv::matchTemplate(screen, scene, match, cv::TM_SQDIFF);
    cv::Point best;
    cv::minMaxLoc(match, nullptr, nullptr, &best);
    return screen(cv::Rect(best, scene.size())).clone();
}

TEST_F(CameraWindow, ReadCodeIsOutlinedOnTheShownFrame)
{
    const cv::Mat scene = testing_support::sceneFrame({640, 480}, card, {170, 90});
    const orb::ReadResult expected = orb::readCode(scene);
    ASSERT_TRUE(expected);
    testing_support::writeFrame(directory.path(), 0, scene);
    for (int i = 1; i < 6000; ++i)
        testing_support::repeatFrame(directory.path(), i, testing_support::framePath(directory.path(), 0));
    startCamera();
    const std::string window = findWindow();
    ASSERT_FALSE(window.empty()) << program->errors();
    ASSERT_TRUE(outputShows(kOutputLine, 60)) << program->output();

    // The outline's colour, which no grey scene has.
    const auto outlinePixels = [](const cv::Mat& frame) {
        cv::Mat mask;
        cv::inRange(frame, cv::Scalar(0, 150, 0), cv::Scalar(100, 255, 100), mask);
        return mask;
    };
    cv::Mat shown;
    ASSERT_TRUE(waitUntil(
        [&] {
            shown = shownFrame(testing_support::screenshot(directory.path()), scene);
            return !shown.empty() && cv::countNonZero(outlinePixels(shown)) > 200;
        },
        60))
        << "no outline on the screen";
    cv::imwrite(std::string(ORB_BINARY_DIR) + "/camera_window.png", shown);

    std::vector<cv::Point> ring;
    for (const cv::Point2f& point : expected.position.outline) ring.emplace_back(cvRound(point.x), cvRound(point.y));
    cv::Mat near = cv::Mat::zeros(shown.size(), CV_8U);
    cv::polylines(near, ring, true, cv::Scalar(255), 9);
    const cv::Mat outline = outlinePixels(shown);
    // Drawn where the code's outer ring is, and all around it.
    EXPECT_GT(cv::countNonZero(outline & near), 0.95 * cv::countNonZero(outline));
    EXPECT_GT(cv::countNonZero(outline & near), 0.8 * cv::arcLength(ring, true));

    sendKey(window, "Escape");
    ASSERT_TRUE(waitUntil([&] { return countOf(program->output(), kMenuLine) == 4; }, 30)) << program->output();
    exitProgram();
}
