#include "support/code_samples.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/drawing/code_drawer.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/payload_types.h"

namespace orb::samples {

Sample drawSample(const SampleRecipe& recipe)
{
    const int bits = recipe.colour ? 3 : 1;
    int rings = recipe.ringCount;
    if (rings == 0)
        rings = fewestRings(recipe.text, recipe.dataType, recipe.eccType, recipe.modulesPerRing, bits, recipe.minRings);
    if (rings <= 0) throw OCException(InsufficientCapacity, "text too long for any ring count");
    const auto modules = writeModules(recipe.text, recipe.dataType, recipe.eccType, recipe.layout, recipe.mask, rings,
                                      recipe.modulesPerRing - 5, bits);
    DrawOptions options;
    options.pitch = recipe.pitch;
    options.startAngle = recipe.startAngle;
    options.centreOffset = recipe.centreOffset;
    options.canvas = recipe.canvas;
    options.codeType = recipe.colour ? Color : BlackAndWhite;
    Sample sample;
    sample.image = drawCode(modules, recipe.modulesPerRing, rings, options).image;
    if (recipe.mirrored) cv::flip(sample.image, sample.image, 1);
    sample.text = recipe.text;
    sample.ringCount = rings;
    return sample;
}

std::string randomText(std::mt19937& random, std::uint8_t dataType, int length)
{
    static const std::string digits = "0123456789";
    static const std::string letters = " .0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static const std::string numbers = ",-./0123456789:_";
    std::string text;
    for (int i = 0; i < length; ++i) {
        switch (dataType) {
        case Digits: text += digits[random() % digits.size()]; break;
        case Letters: text += letters[random() % letters.size()]; break;
        case Numbers: text += numbers[random() % numbers.size()]; break;
        case Ascii: text += static_cast<char>(32 + random() % 95); break;
        case Latin1: text += static_cast<char>(i == 0 ? 0xE9 : 32 + random() % 95); break;
        default: text += static_cast<char>(32 + random() % 95); break;
        }
    }
    return text;
}

cv::Mat perspective(const cv::Mat& image, double cornerShare, std::mt19937& random)
{
    const float w = static_cast<float>(image.cols), h = static_cast<float>(image.rows);
    std::uniform_real_distribution<float> shift(0.0f, static_cast<float>(cornerShare));
    const cv::Point2f from[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    const cv::Point2f to[4] = {{w * shift(random), h * shift(random)},
                               {w * (1 - shift(random)), h * shift(random)},
                               {w * (1 - shift(random)), h * (1 - shift(random))},
                               {w * shift(random), h * (1 - shift(random))}};
    cv::Mat warped;
    cv::warpPerspective(image, warped, cv::getPerspectiveTransform(from, to), image.size(), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(255));
    return warped;
}

cv::Mat gaussianBlur(const cv::Mat& image, double sigma)
{
    cv::Mat blurred;
    cv::GaussianBlur(image, blurred, cv::Size(), sigma);
    return blurred;
}

cv::Mat saltAndPepper(const cv::Mat& image, double share, std::mt19937& random)
{
    cv::Mat noisy = image.clone();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int y = 0; y < noisy.rows; ++y)
        for (int x = 0; x < noisy.cols; ++x) {
            const double u = unit(random);
            if (u < share / 2) noisy.at<cv::Vec3b>(y, x) = cv::Vec3b(0, 0, 0);
            else if (u < share) noisy.at<cv::Vec3b>(y, x) = cv::Vec3b(255, 255, 255);
        }
    return noisy;
}

cv::Mat blotches(const cv::Mat& image, int count, double radius, std::mt19937& random)
{
    cv::Mat marked = image.clone();
    std::uniform_int_distribution<int> x(0, image.cols - 1), y(0, image.rows - 1), shade(0, 1);
    for (int i = 0; i < count; ++i)
        cv::circle(marked, {x(random), y(random)}, static_cast<int>(radius), cv::Scalar::all(shade(random) * 255),
                   cv::FILLED, cv::LINE_AA);
    return marked;
}

cv::Mat jpeg(const cv::Mat& image, int quality)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", image, bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

cv::Mat scaled(const cv::Mat& image, double factor)
{
    cv::Mat result;
    cv::resize(image, result, cv::Size(), factor, factor, cv::INTER_AREA);
    return result;
}

Reading read(const cv::Mat& image, int codeType, std::int32_t layout)
{
    DecoderConfiguration config;
    config.codeType = codeType;
    config.layout = layout;
    Reading reading;
    try {
        reading.text = decode(config, image, true);
        reading.success = true;
    } catch (const std::exception& e) {
        reading.text = e.what();
    }
    return reading;
}

} // namespace orb::samples
