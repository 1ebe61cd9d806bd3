#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "app/image_modification.h"

using namespace app;

namespace {

cv::Mat grainyImage(int cols, int rows)
{
    cv::Mat image(rows, cols, CV_8UC3);
    cv::randu(image, 60, 200); // no pure black or white, so distortions are countable
    return image;
}

double share(const cv::Mat& mask) { return cv::countNonZero(mask) / static_cast<double>(mask.total()); }

} // namespace

TEST(DistortImage, AllLevelsZeroGiveASeparateExactCopy)
{
    const cv::Mat input = grainyImage(64, 48);
    const cv::Mat out = distortImage({}, input);
    ASSERT_EQ(out.size(), input.size());
    ASSERT_EQ(out.type(), input.type());
    EXPECT_EQ(cv::norm(out, input, cv::NORM_INF), 0);
    EXPECT_NE(out.data, input.data);
    EXPECT_TRUE(distortImage({0.45, 0.225, 0.09}, cv::Mat()).empty());
}

TEST(DistortImage, NoiseNineTurnsAboutElevenPercentBlackAndWhite)
{
    const cv::Mat input = grainyImage(640, 480);
    const cv::Mat before = input.clone();
    DistortionLevels levels;
    std::ostringstream out;
    ASSERT_TRUE(setDistortionLevel(levels, DistortionTarget::Noise, 9, out));
    const cv::Mat noisy = distortImage(levels, input);
    EXPECT_EQ(cv::norm(input, before, cv::NORM_INF), 0) << "input changed";

    cv::Mat grey;
    cv::cvtColor(noisy, grey, cv::COLOR_BGR2GRAY);
    // k = 29: values 0..28 go black, 227..254 white, of 255 equally likely.
    EXPECT_NEAR(share(grey == 0), 29 / 255.0, 0.01);
    EXPECT_NEAR(share(grey == 255), 28 / 255.0, 0.01);
    // Whole pixels, every channel alike.
    cv::Mat channels[3];
    cv::split(noisy, channels);
    EXPECT_EQ(cv::countNonZero(channels[0] == 0), cv::countNonZero(grey == 0));
}

TEST(DistortImage, PerspectiveLeavesBlackCornersAndAKeptCentre)
{
    std::srand(7);
    const cv::Mat input(240, 320, CV_8UC3, cv::Scalar(90, 150, 210));
    DistortionLevels levels;
    levels.perspective = 9 / 20.0;
    // Rarely a corner draws u = 0 and stays put; with several seeds most must move.
    int blackCorners = 0;
    for (int run = 0; run < 5; ++run) {
        const cv::Mat out = distortImage(levels, input);
        ASSERT_EQ(out.size(), input.size());
        for (const cv::Point corner : {cv::Point(0, 0), cv::Point(319, 0), cv::Point(319, 239), cv::Point(0, 239)})
            if (out.at<cv::Vec3b>(corner) == cv::Vec3b(0, 0, 0)) ++blackCorners;
        EXPECT_EQ(out.at<cv::Vec3b>(120, 160), cv::Vec3b(90, 150, 210));
    }
    EXPECT_GE(blackCorners, 18);
}

TEST(DistortImage, AreaDestructionCoversTheChosenShare)
{
    std::srand(11);
    const cv::Mat input(480, 640, CV_8UC1, cv::Scalar(128));
    for (int digit : {1, 5, 9}) {
        DistortionLevels levels;
        std::ostringstream out;
        setDistortionLevel(levels, DistortionTarget::Area, digit, out);
        const cv::Mat blotted = distortImage(levels, input);
        // The loop counts each blot 1.6-fold, so the painted share is lower
        // than the level, by more as overlaps grow.
        const double painted = share(blotted != 128);
        EXPECT_GT(painted, levels.area / 1.6 * 0.6) << digit;
        EXPECT_LT(painted, levels.area / 1.6 * 1.4) << digit;
        EXPECT_GT(share(blotted == 0), 0) << digit;
        EXPECT_GT(share(blotted == 255), 0) << digit;
    }
    // Tiny frames have a negative axis spread and must still finish.
    DistortionLevels levels;
    levels.area = 0.09;
    EXPECT_EQ(distortImage(levels, cv::Mat(10, 12, CV_8UC3, cv::Scalar::all(128))).size(), cv::Size(12, 10));
}

TEST(DistortionDigits, SetOnlyTheTargetAndReportIt)
{
    DistortionLevels levels;
    std::ostringstream out;
    EXPECT_FALSE(setDistortionLevel(levels, DistortionTarget::None, 5, out));
    EXPECT_TRUE(setDistortionLevel(levels, DistortionTarget::Perspective, 9, out));
    EXPECT_TRUE(setDistortionLevel(levels, DistortionTarget::Noise, 4, out));
    EXPECT_TRUE(setDistortionLevel(levels, DistortionTarget::Area, 3, out));
    EXPECT_FALSE(setDistortionLevel(levels, DistortionTarget::Area, 10, out));
    EXPECT_DOUBLE_EQ(levels.perspective, 0.45);
    EXPECT_DOUBLE_EQ(levels.noise, 0.1);
    EXPECT_DOUBLE_EQ(levels.area, 0.03);
    EXPECT_EQ(out.str(), "Perspective Distortion Level: 9\nNoise Level: 4\nArea Destruction Level: 3\n");
}

TEST(ModificationOptions, ListEveryKey)
{
    std::ostringstream out;
    printModificationOptions(out);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("\n------------Modification Options------------\n", 0), 0u);
    EXPECT_NE(text.find("\n : disable all distortions and set black and white code type\n0..9: change distortion level\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nx: stop camera\n" + std::string(44, '-') + "\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 16);
}
