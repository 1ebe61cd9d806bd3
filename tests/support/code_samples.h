#pragma once
// Drawn codes for end-to-end reading: a random text in a code of a given
// shape, drawn, placed and degraded the way a camera would see it.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace orb::samples {

struct SampleRecipe {
    int modulesPerRing = 32;
    int ringCount = 0;            // 0: the fewest rings that hold the text
    int minRings = 2;
    double pitch = 12;            // pixels
    bool colour = false;
    std::int32_t layout = 4;      // HorizontalSnakeSmall
    std::uint8_t eccType = 1;     // Medium
    std::uint8_t dataType = 0;    // Automatic
    int mask = 2;
    double startAngle = 1.3;      // radians
    cv::Point2d centreOffset{0.37, 0.21};
    cv::Size canvas{1280, 720};
    bool mirrored = false;
    std::string text = "ScanBench";
};

struct Sample {
    cv::Mat image;     // 8-bit, three channels
    std::string text;  // what a reader must return
    int ringCount = 0;
};

// Draws the code of `recipe`. Throws OCException when the text does not fit.
Sample drawSample(const SampleRecipe& recipe);

// A random text of `length` characters that packs as `dataType`.
std::string randomText(std::mt19937& random, std::uint8_t dataType, int length);

// Degradations, each returning a new image.
cv::Mat perspective(const cv::Mat& image, double cornerShare, std::mt19937& random);
cv::Mat gaussianBlur(const cv::Mat& image, double sigma);
cv::Mat saltAndPepper(const cv::Mat& image, double share, std::mt19937& random);
cv::Mat blotches(const cv::Mat& image, int count, double radius, std::mt19937& random);
cv::Mat jpeg(const cv::Mat& image, int quality);
cv::Mat scaled(const cv::Mat& image, double factor);

// Result of reading one image: the text or the failure message.
struct Reading {
    bool success = false;
    std::string text;
};
Reading read(const cv::Mat& image, int codeType, std::int32_t layout = 4);

} // namespace orb::samples
