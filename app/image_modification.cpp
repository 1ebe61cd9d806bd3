#include "app/image_modification.h"

#include <cmath>
#include <cstdlib>
#include <iostream>

#include <opencv2/imgproc.hpp>

namespace app {

namespace {

// One draw in [0, 1], both ends included. Dividing by the generator's own
// maximum keeps the range whatever RAND_MAX the C library has.
double unitDraw() { return std::rand() / static_cast<double>(RAND_MAX); }

cv::Mat warpRandomly(const cv::Mat& input, double level)
{
    const int cols = input.cols;
    const int rows = input.rows;
    const double hx = (cols / 2) * level;
    const double hy = (rows / 2) * level;
    const cv::Point2f source[4] = {{0.0f, 0.0f},
                                   {static_cast<float>(cols), 0.0f},
                                   {static_cast<float>(cols), static_cast<float>(rows)},
                                   {0.0f, static_cast<float>(rows)}};
    // Corners clockwise from top left; each draws y before x.
    cv::Point2f target[4];
    target[0].y = static_cast<float>(unitDraw() * hy);
    target[0].x = static_cast<float>(unitDraw() * hx);
    target[1].y = static_cast<float>(unitDraw() * hy);
    target[1].x = static_cast<float>(cols - unitDraw() * hx);
    target[2].y = static_cast<float>(rows - unitDraw() * hy);
    target[2].x = static_cast<float>(cols - unitDraw() * hx);
    target[3].y = static_cast<float>(rows - unitDraw() * hy);
    target[3].x = static_cast<float>(unitDraw() * hx);
    const cv::Mat transform = cv::getPerspectiveTransform(source, target, cv::DECOMP_LU);
    cv::Mat warped;
    cv::warpPerspective(input, warped, transform, input.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                        cv::Scalar::all(0));
    return warped;
}

void addNoise(cv::Mat& image, double level)
{
    const int k = static_cast<int>(std::lround(level * 255 * 0.5));
    cv::Mat random(image.size(), CV_8UC1);
    cv::randu(random, 0, 255);
    image.setTo(cv::Scalar::all(255), random > 255 - k);
    image.setTo(cv::Scalar::all(0), random < k);
}

void destroyAreas(cv::Mat& image, double level)
{
    const int cols = image.cols;
    const int rows = image.rows;
    const double limit = static_cast<double>(cols) * rows * level;
    const double spread = (cols + rows) / 40 - 5.0;
    double covered = 0.0;
    while (limit > covered) {
        const int centreY = static_cast<int>(std::lround(rows * unitDraw()));
        const int centreX = static_cast<int>(std::lround(cols * unitDraw()));
        const double axisA = unitDraw() * spread + 5;
        const double axisB = unitDraw() * spread + 5;
        const cv::Scalar colour = unitDraw() > 0.5 ? cv::Scalar::all(0) : cv::Scalar::all(255);
        const double angle = unitDraw() * 360;
        cv::ellipse(image, cv::Point(centreX, centreY),
                    cv::Size(static_cast<int>(std::lround(axisB)), static_cast<int>(std::lround(axisA))), angle, 0,
                    360, colour, cv::FILLED, cv::LINE_8);
        // Enlarged so that overlapping blots still reach the share.
        covered += axisA * axisB * CV_PI * 1.6;
    }
}

} // namespace

cv::Mat distortImage(const DistortionLevels& levels, const cv::Mat& input)
{
    cv::Mat out = input.clone();
    if (out.empty()) return out;
    if (levels.perspective > 0) out = warpRandomly(input, levels.perspective);
    if (levels.noise > 0) addNoise(out, levels.noise);
    if (levels.area > 0) destroyAreas(out, levels.area);
    return out;
}

bool setDistortionLevel(DistortionLevels& levels, DistortionTarget target, int digit, std::ostream& out)
{
    if (digit < 0 || digit > 9) return false;
    switch (target) {
    case DistortionTarget::Perspective:
        levels.perspective = digit / 20.0;
        out << "Perspective Distortion Level: " << digit << std::endl;
        return true;
    case DistortionTarget::Noise:
        levels.noise = digit / 40.0;
        out << "Noise Level: " << digit << std::endl;
        return true;
    case DistortionTarget::Area:
        levels.area = digit / 100.0;
        out << "Area Destruction Level: " << digit << std::endl;
        return true;
    case DistortionTarget::None:
        break;
    }
    return false;
}

void printModificationOptions(std::ostream& out)
{
    out << '\n'
        << "------------Modification Options------------\n"
        << " : disable all distortions and set black and white code type\n"
        << "0..9: change distortion level\n"
        << "a: set area destruction state\n"
        << "b: toggle binarization\n"
        << "c: toggle color mode\n"
        << "e: toggle image enhancement\n"
        << "h: show these image modification options\n"
        << "i: toggle image inversion\n"
        << "n: set noise distortion state\n"
        << "p: set perspective transform state\n"
        << "t: toggle measuring decoding time\n"
        << "v: toggle camera output\n"
        << "x: stop camera\n"
        << std::string(44, '-') << std::endl;
}

void printModificationOptions() { printModificationOptions(std::cout); }

} // namespace app
