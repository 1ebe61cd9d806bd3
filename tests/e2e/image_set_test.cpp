// Reading drawn codes from end to end, in groups like a folder of test
// images: each group states how many of its images must read.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include <opencv2/imgproc.hpp>

#include "orb/decoder_configuration.h"
#include "orb/logger.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"
#include "support/code_samples.h"

using namespace orb;
using namespace orb::samples;

namespace {

class ImageSet : public ::testing::Test {
protected:
    void SetUp() override { logger().setConsoleLevel(static_cast<int>(LogLevel::Off)); }
    void TearDown() override { logger().setConsoleLevel(static_cast<int>(LogLevel::Warning)); }

    // Reads the sample, records a failure line for the report and counts.
    void check(const SampleRecipe& recipe, const cv::Mat& image, const std::string& label)
    {
        ++total_;
        const Reading reading = read(image, recipe.colour ? Color : BlackAndWhite, recipe.layout);
        if (reading.success && reading.text == recipe.text) {
            ++passed_;
        } else {
            failures_ += "  " + label + ": " + (reading.success ? "wrong text" : reading.text) + "\n";
            // A wrong text is never acceptable: it is a silent misread.
            EXPECT_FALSE(reading.success) << label << " read a different text";
        }
    }
    void check(const SampleRecipe& recipe, const std::string& label) { check(recipe, drawSample(recipe).image, label); }

    void expectPassed(int expected)
    {
        EXPECT_GE(passed_, expected) << passed_ << " of " << total_ << " read; failures:\n" << failures_;
        std::cout << "[ pass rate ] " << passed_ << "/" << total_ << std::endl;
    }

    std::mt19937 random_{20261208};
    int passed_ = 0;
    int total_ = 0;
    std::string failures_;
};

std::string label(const SampleRecipe& s)
{
    return "M" + std::to_string(s.modulesPerRing) + " minR" + std::to_string(s.minRings) + " pitch " +
           std::to_string(s.pitch) + (s.colour ? " colour" : " bw") + " layout " + std::to_string(s.layout) +
           " ecc " + std::to_string(s.eccType) + " angle " + std::to_string(s.startAngle) + " text '" + s.text + "'";
}

double randomAngle(std::mt19937& random) { return (random() % 62832) / 10000.0; }

} // namespace

TEST_F(ImageSet, EveryModuleCountAndRingCountHeadOn)
{
    for (int m : {16, 32, 48, 64})
        for (int rings : {2, 3, 4, 6, 8, 10}) {
            SampleRecipe recipe;
            recipe.modulesPerRing = m;
            recipe.minRings = rings;
            recipe.pitch = rings >= 8 ? 12 : 16;
            recipe.startAngle = randomAngle(random_);
            recipe.text = randomText(random_, Letters, 3);
            check(recipe, label(recipe));
        }
    expectPassed(24);
}

TEST_F(ImageSet, ColourCodes)
{
    for (int m : {16, 32, 48, 64})
        for (int rings : {2, 4, 7}) {
            SampleRecipe recipe;
            recipe.colour = true;
            recipe.modulesPerRing = m;
            recipe.minRings = rings;
            recipe.pitch = 16;
            recipe.startAngle = randomAngle(random_);
            recipe.text = randomText(random_, Ascii, 4 + rings);
            check(recipe, label(recipe));
        }
    expectPassed(12);
}

TEST_F(ImageSet, EveryLayoutAndEccType)
{
    for (std::int32_t layout = Horizontal; layout <= Scrambled; ++layout)
        for (std::uint8_t ecc = Low; ecc <= High; ++ecc) {
            SampleRecipe recipe;
            recipe.layout = layout;
            recipe.eccType = ecc;
            recipe.minRings = 4;
            recipe.startAngle = randomAngle(random_);
            recipe.mask = static_cast<int>(random_() % 5);
            recipe.text = randomText(random_, Ascii, 10);
            check(recipe, label(recipe));
        }
    expectPassed(24);
}

TEST_F(ImageSet, EveryDataType)
{
    for (std::uint8_t type : {Automatic, Digits, Letters, Numbers, Ascii, Binary, BigLetters, Latin1})
        for (int length : {1, 9, 20}) {
            SampleRecipe recipe;
            recipe.dataType = type;
            recipe.startAngle = randomAngle(random_);
            recipe.text = randomText(random_, type == Automatic ? std::uint8_t(Letters) : type, length);
            check(recipe, label(recipe));
        }
    expectPassed(24);
}

TEST_F(ImageSet, RotatedToArbitraryAngles)
{
    for (int i = 0; i < 24; ++i) {
        SampleRecipe recipe;
        recipe.modulesPerRing = (i % 2) ? 48 : 32;
        recipe.startAngle = i * 0.2618 + 0.05;
        recipe.text = randomText(random_, Letters, 8);
        check(recipe, label(recipe));
    }
    expectPassed(24);
}

TEST_F(ImageSet, MirroredCodesReadOnTheSecondAttempt)
{
    for (int i = 0; i < 8; ++i) {
        SampleRecipe recipe;
        recipe.modulesPerRing = 16 + 16 * (i % 4);
        recipe.mirrored = true;
        recipe.startAngle = randomAngle(random_);
        recipe.text = randomText(random_, Letters, 6);
        check(recipe, label(recipe) + " mirrored");
    }
    expectPassed(8);
}

TEST_F(ImageSet, OffCentre)
{
    const cv::Point2d offsets[] = {{100, 0}, {-100, 0}, {0, 80}, {0, -80}, {70, 60}, {-70, -60}, {150, 40}, {-150, 40}};
    for (const auto& offset : offsets) {
        SampleRecipe recipe;
        recipe.centreOffset = offset + cv::Point2d(0.37, 0.21);
        recipe.startAngle = randomAngle(random_);
        recipe.text = randomText(random_, Letters, 8);
        check(recipe, label(recipe) + " offset " + std::to_string(offset.x) + "," + std::to_string(offset.y));
    }
    expectPassed(8);
}

TEST_F(ImageSet, FromSmallestToLargestPitch)
{
    for (double pitch : {6.0, 8.0, 10.0, 14.0, 20.0, 26.0, 32.0}) {
        SampleRecipe recipe;
        recipe.pitch = pitch;
        recipe.minRings = 5;
        recipe.startAngle = randomAngle(random_);
        recipe.text = randomText(random_, Letters, 6);
        check(recipe, label(recipe));
    }
    expectPassed(7);
}

TEST_F(ImageSet, SmallerFrames)
{
    for (cv::Size frame : {cv::Size(640, 480), cv::Size(480, 360), cv::Size(320, 240)})
        for (int m : {16, 32, 48}) {
            SampleRecipe recipe;
            recipe.canvas = frame;
            recipe.modulesPerRing = m;
            recipe.minRings = 4;
            recipe.pitch = frame.height / 28.0;
            recipe.startAngle = randomAngle(random_);
            recipe.text = randomText(random_, Digits, 3);
            check(recipe, label(recipe) + " frame " + std::to_string(frame.width));
        }
    expectPassed(9);
}

TEST_F(ImageSet, ImagesWithoutACodeYieldNoText)
{
    std::vector<cv::Mat> images;
    images.push_back(cv::Mat(720, 1280, CV_8UC3, cv::Scalar::all(255)));
    images.push_back(cv::Mat(720, 1280, CV_8UC3, cv::Scalar::all(0)));
    cv::Mat noise(480, 640, CV_8UC3);
    cv::randu(noise, 0, 256);
    images.push_back(noise);
    cv::Mat shapes(720, 1280, CV_8UC3, cv::Scalar::all(255));
    cv::circle(shapes, {640, 360}, 120, cv::Scalar::all(0), cv::FILLED);
    cv::circle(shapes, {640, 360}, 60, cv::Scalar::all(255), cv::FILLED);
    cv::rectangle(shapes, {100, 100}, {300, 200}, cv::Scalar::all(0), cv::FILLED);
    images.push_back(shapes);
    cv::Mat rings(600, 600, CV_8UC3, cv::Scalar::all(255));
    for (int r = 280; r > 20; r -= 20)
        cv::circle(rings, {300, 300}, r, cv::Scalar::all((r / 20) % 2 ? 0 : 255), cv::FILLED);
    images.push_back(rings);
    for (const auto& image : images) {
        const Reading reading = read(image, BlackAndWhite);
        EXPECT_FALSE(reading.success) << "read '" << reading.text << "' from an image without a code";
    }
}

namespace {

// A mixed set of eight codes for the degradation groups.
std::vector<SampleRecipe> degradationSet(std::mt19937& random)
{
    std::vector<SampleRecipe> recipes;
    for (int i = 0; i < 8; ++i) {
        SampleRecipe recipe;
        recipe.modulesPerRing = 16 + 16 * (i % 4);
        recipe.colour = i >= 6;
        recipe.minRings = 3 + i % 3;
        recipe.pitch = 14;
        recipe.startAngle = randomAngle(random);
        recipe.text = randomText(random, Letters, 6);
        recipes.push_back(recipe);
    }
    return recipes;
}

} // namespace

TEST_F(ImageSet, DegradedAtLevelsThatAlwaysRead)
{
    struct Level {
        const char* name;
        std::function<cv::Mat(const cv::Mat&)> degrade;
    };
    const std::vector<Level> levels = {
        {"perspective 5%", [this](const cv::Mat& m) { return perspective(m, 0.05, random_); }},
        {"perspective 10%", [this](const cv::Mat& m) { return perspective(m, 0.10, random_); }},
        {"blur sigma 1", [](const cv::Mat& m) { return gaussianBlur(m, 1.0); }},
        {"blur sigma 2", [](const cv::Mat& m) { return gaussianBlur(m, 2.0); }},
        {"salt and pepper 5%", [this](const cv::Mat& m) { return saltAndPepper(m, 0.05, random_); }},
        {"jpeg quality 50", [](const cv::Mat& m) { return jpeg(m, 50); }},
        {"jpeg quality 30", [](const cv::Mat& m) { return jpeg(m, 30); }},
    };
    for (const auto& level : levels)
        for (const auto& recipe : degradationSet(random_))
            check(recipe, level.degrade(drawSample(recipe).image), std::string(level.name) + " " + label(recipe));
    expectPassed(static_cast<int>(levels.size()) * 8);
}
