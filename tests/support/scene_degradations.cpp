#include "support/scene_degradations.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "orb/payload/module_geometry.h"
#include "support/code_samples.h"

namespace orb::samples {

namespace {

double uniform(std::mt19937& random, double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(random);
}

// Blends `colour` over `image` by `alpha` (8-bit, 255 opaque).
void blend(cv::Mat& image, const cv::Mat& alpha, const cv::Mat& colour)
{
    cv::Mat weight, image32, colour32;
    cv::cvtColor(alpha, weight, cv::COLOR_GRAY2BGR);
    weight.convertTo(weight, CV_32FC3, 1.0 / 255);
    image.convertTo(image32, CV_32FC3);
    colour.convertTo(colour32, CV_32FC3);
    image32 += weight.mul(colour32 - image32);
    image32.convertTo(image, CV_8UC3);
}

// The part of the frame within `reach` of `centre`.
cv::Rect around(cv::Point2f centre, double reach, cv::Size frame)
{
    const int r = static_cast<int>(std::ceil(reach));
    return cv::Rect(static_cast<int>(centre.x) - r, static_cast<int>(centre.y) - r, 2 * r + 1, 2 * r + 1) &
           cv::Rect(cv::Point(), frame);
}

} // namespace

ImageChange stains(cv::Size card, cv::Point2d centre, double dataInner, double dataOuter, double pitch, double share,
                   std::mt19937& random)
{
    cv::Mat data = cv::Mat::zeros(card, CV_8U);
    cv::circle(data, centre, static_cast<int>(dataOuter), cv::Scalar(255), cv::FILLED);
    cv::circle(data, centre, static_cast<int>(dataInner), cv::Scalar(0), cv::FILLED);
    const double dataArea = cv::countNonZero(data);

    // Blots of ink, coffee or correction fluid, each a cluster of ellipses
    // so its edge is irregular, added until they hide `share` of the data.
    cv::Mat alpha = cv::Mat::zeros(card, CV_8U);
    cv::Mat colour(card, CV_8UC3, cv::Scalar::all(255));
    cv::Mat covered;
    for (int blot = 0; blot < 400; ++blot) {
        cv::bitwise_and(alpha, data, covered);
        if (cv::countNonZero(covered) >= share * dataArea) break;
        const double angle = uniform(random, 0, kTwoPi);
        const double radius = uniform(random, dataInner, dataOuter);
        const cv::Point2d at = centre + radius * cv::Point2d(std::cos(angle), std::sin(angle));
        const double size = pitch * uniform(random, 0.8, 2.2);
        const bool dark = random() % 3 != 0;
        const double grey = dark ? uniform(random, 30, 110) : uniform(random, 225, 250);
        const cv::Scalar tint = dark ? cv::Scalar(grey * 0.7, grey * 0.85, grey) : cv::Scalar::all(grey);
        cv::Mat one = cv::Mat::zeros(card, CV_8U);
        for (int part = 0; part < 4; ++part) {
            const cv::Point2d offset(uniform(random, -0.6, 0.6) * size, uniform(random, -0.6, 0.6) * size);
            cv::ellipse(one, cv::Point(at + offset), cv::Size(static_cast<int>(size * uniform(random, 0.4, 1.0)) + 1,
                                                              static_cast<int>(size * uniform(random, 0.3, 0.8)) + 1),
                        uniform(random, 0, 180), 0, 360, cv::Scalar(255), cv::FILLED, cv::LINE_AA);
        }
        colour.setTo(tint, one > 127);
        cv::max(alpha, one, alpha);
    }
    cv::Mat opacity;
    alpha.convertTo(opacity, CV_8U, 0.92);
    return [opacity, colour](cv::Mat& image) { blend(image, opacity, colour); };
}

ImageChange cylinder(cv::Size card, double arc, cv::Point2d& centre)
{
    // Seen from afar a point s along the card's width lands R sin(s / R)
    // from the axis; the map runs backwards, from where it lands.
    const double radius = card.width / arc, middle = card.width / 2.0;
    const int width = static_cast<int>(std::ceil(2 * radius * std::sin(arc / 2)));
    cv::Mat mapX(card.height, width, CV_32F), mapY(card.height, width, CV_32F), shade(1, width, CV_32F);
    for (int x = 0; x < width; ++x) {
        const double along = std::clamp((x - width / 2.0) / radius, -1.0, 1.0);
        const double s = radius * std::asin(along);
        mapX.col(x).setTo(static_cast<float>(middle + s));
        // The card turns away from the light towards its edges.
        shade.at<float>(x) = static_cast<float>(0.75 + 0.25 * std::cos(s / radius));
    }
    for (int y = 0; y < card.height; ++y) mapY.row(y).setTo(static_cast<float>(y));
    centre.x = width / 2.0 + radius * std::sin((centre.x - middle) / radius);
    cv::Mat gain;
    cv::repeat(shade, card.height, 1, gain);
    cv::cvtColor(gain, gain, cv::COLOR_GRAY2BGR);
    return [mapX, mapY, gain](cv::Mat& image) {
        cv::Mat bent;
        cv::remap(image, bent, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
        bent.convertTo(bent, CV_32FC3);
        cv::Mat(bent.mul(gain)).convertTo(image, CV_8UC3);
    };
}

ImageChange inverted()
{
    return [](cv::Mat& image) { cv::bitwise_not(image, image); };
}

ImageChange screenPixels(int cell)
{
    return [cell](cv::Mat& image) {
        cv::Mat big;
        cv::resize(image, big, cv::Size(), cell, cell, cv::INTER_NEAREST);
        // One stripe per colour across the cell (red, green, blue from the
        // left), the other two colours faint, and a dark row between rows of
        // pixels; the camera's exposure then lifts it back towards white.
        cv::Mat mask(cell, cell, CV_32FC3);
        for (int y = 0; y < cell; ++y)
            for (int x = 0; x < cell; ++x) {
                const int stripe = std::min(2, x * 3 / cell);
                cv::Vec3f gain = cv::Vec3f::all(0.35f);
                gain[2 - stripe] = 1.0f;
                mask.at<cv::Vec3f>(y, x) = gain * (y == cell - 1 ? 0.5f : 1.0f) * 1.9f;
            }
        cv::Mat tiled;
        cv::repeat(mask, image.rows, image.cols, tiled);
        big.convertTo(big, CV_32FC3);
        cv::Mat(big.mul(tiled)).convertTo(image, CV_8UC3);
    };
}

ImageChange defocus(double sigma)
{
    return [sigma](cv::Mat& image) { cv::GaussianBlur(image, image, cv::Size(), sigma); };
}

ImageChange motionBlur(double length, std::mt19937& random)
{
    const double angle = uniform(random, 0, 180);
    const int side = 2 * static_cast<int>(std::ceil(length / 2)) + 3;
    cv::Mat kernel = cv::Mat::zeros(side, side, CV_32F);
    // A line drawn large and reduced, so its length need not be whole pixels.
    const int fine = 8;
    cv::Mat big = cv::Mat::zeros(side * fine, side * fine, CV_32F);
    const cv::Point2d middle(side * fine / 2.0, side * fine / 2.0);
    const cv::Point2d half = length * fine / 2 * cv::Point2d(std::cos(angle * CV_PI / 180), std::sin(angle * CV_PI / 180));
    cv::line(big, middle - half, middle + half, cv::Scalar(1), fine, cv::LINE_AA);
    cv::resize(big, kernel, kernel.size(), 0, 0, cv::INTER_AREA);
    kernel /= cv::sum(kernel)[0];
    return [kernel](cv::Mat& image) { cv::filter2D(image, image, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT); };
}

ImageChange hardShadow(const CodeSpot& code, double lightLeft, std::mt19937& random)
{
    const double angle = uniform(random, 0, kTwoPi);
    const cv::Point2f normal(static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)));
    const cv::Point2f along(-normal.y, normal.x);
    const cv::Point2f edge = code.centre + normal * static_cast<float>(uniform(random, -0.3, 0.3) * code.radius);
    const double softness = uniform(random, 0.3, 1.0) * std::max(1.0, code.pitch / 6);
    return [=](cv::Mat& image) {
        const float far = static_cast<float>(image.cols + image.rows) * 2;
        const std::vector<cv::Point> dark = {edge + along * far, edge + along * far + normal * far,
                                             edge - along * far + normal * far, edge - along * far};
        cv::Mat gain(image.size(), CV_8U, cv::Scalar(255));
        cv::fillConvexPoly(gain, dark, cv::Scalar(255 * lightLeft), cv::LINE_AA);
        cv::GaussianBlur(gain, gain, cv::Size(), softness);
        cv::cvtColor(gain, gain, cv::COLOR_GRAY2BGR);
        cv::multiply(image, gain, image, 1.0 / 255);
    };
}

ImageChange glare(const CodeSpot& code, double peak, std::mt19937& random)
{
    const double offset = uniform(random, 0, 0.45) * code.radius, direction = uniform(random, 0, kTwoPi);
    const cv::Point2f at = code.centre + static_cast<float>(offset) * cv::Point2f(static_cast<float>(std::cos(direction)),
                                                                                  static_cast<float>(std::sin(direction)));
    const double wide = uniform(random, 0.18, 0.35) * code.radius * 2, narrow = wide * uniform(random, 0.3, 0.8);
    const double turn = uniform(random, 0, 180);
    return [=](cv::Mat& image) {
        const cv::Rect box = around(at, 3 * wide, image.size());
        if (box.empty()) return;
        cv::Mat spot = cv::Mat::zeros(box.size(), CV_32F);
        cv::ellipse(spot, cv::RotatedRect(at - cv::Point2f(box.tl()), cv::Size2f(static_cast<float>(wide), static_cast<float>(narrow)), static_cast<float>(turn)),
                    cv::Scalar(1), cv::FILLED, cv::LINE_AA);
        cv::GaussianBlur(spot, spot, cv::Size(), narrow / 2);
        double top = 0;
        cv::minMaxLoc(spot, nullptr, &top);
        cv::Mat added;
        spot.convertTo(added, CV_8U, top > 0 ? peak / top : 0);
        cv::cvtColor(added, added, cv::COLOR_GRAY2BGR);
        cv::Mat part = image(box);
        cv::add(part, added, part);
    };
}

ImageChange finger(const CodeSpot& code, double reach, std::mt19937& random)
{
    cv::Point2f towards = code.barPoint - code.centre;
    const double turn = uniform(random, -0.35, 0.1); // towards the radial zebra, clockwise of the bar
    const float c = static_cast<float>(std::cos(turn)), s = static_cast<float>(std::sin(turn));
    towards = cv::Point2f(c * towards.x - s * towards.y, s * towards.x + c * towards.y);
    towards *= 1.0f / static_cast<float>(std::max(1e-3, cv::norm(towards)));
    const double width = uniform(random, 0.3, 0.4) * 2 * code.radius;
    const cv::Point2f tip = code.centre + towards * static_cast<float>(code.radius * (1 - reach) + width / 2);
    const cv::Scalar skin(uniform(random, 110, 150), uniform(random, 140, 175), uniform(random, 190, 235));
    return [=](cv::Mat& image) {
        const cv::Point2f base = tip + towards * static_cast<float>(4 * code.radius + width);
        const cv::Rect box = around(tip, 5 * code.radius + 2 * width, image.size());
        if (box.empty()) return;
        cv::Mat alpha = cv::Mat::zeros(box.size(), CV_8U);
        cv::line(alpha, tip - cv::Point2f(box.tl()), base - cv::Point2f(box.tl()), cv::Scalar(255),
                 std::max(1, static_cast<int>(width)), cv::LINE_AA);
        // Rounded across, darker at its sides, and out of focus this close.
        cv::Mat depth;
        cv::distanceTransform(alpha > 127, depth, cv::DIST_L2, 3);
        cv::Mat shade;
        depth.convertTo(shade, CV_32F, 1.0 / (width / 2));
        cv::min(shade, 1.0, shade);
        shade = 0.6 + 0.4 * shade;
        cv::Mat colour(box.size(), CV_32FC3, skin);
        cv::Mat shade3;
        cv::cvtColor(shade, shade3, cv::COLOR_GRAY2BGR);
        colour = colour.mul(shade3);
        cv::Mat colour8;
        colour.convertTo(colour8, CV_8UC3);
        cv::GaussianBlur(colour8, colour8, cv::Size(), width * 0.05 + 0.5);
        cv::GaussianBlur(alpha, alpha, cv::Size(), width * 0.04 + 0.5);
        cv::Mat part = image(box);
        blend(part, alpha, colour8);
    };
}

ImageChange lightGradient(cv::Size frame, double low, std::mt19937& random)
{
    const double angle = uniform(random, 0, kTwoPi);
    const double high = uniform(random, 1.0, 1.05);
    return [=](cv::Mat& image) {
        const cv::Size small(std::max(2, frame.width / 8), std::max(2, frame.height / 8));
        cv::Mat xs(1, small.width, CV_32F), ys(small.height, 1, CV_32F);
        for (int x = 0; x < small.width; ++x) xs.at<float>(x) = static_cast<float>(std::cos(angle) * x / small.width);
        for (int y = 0; y < small.height; ++y) ys.at<float>(y) = static_cast<float>(std::sin(angle) * y / small.height);
        cv::Mat ramp = cv::repeat(xs, small.height, 1) + cv::repeat(ys, 1, small.width);
        cv::normalize(ramp, ramp, low, high, cv::NORM_MINMAX);
        cv::Mat gain;
        ramp.convertTo(gain, CV_8U, 200.0);
        cv::resize(gain, gain, image.size(), 0, 0, cv::INTER_LINEAR);
        cv::cvtColor(gain, gain, cv::COLOR_GRAY2BGR);
        cv::multiply(image, gain, image, 1.0 / 200.0);
    };
}

ImageChange sensorNoise(cv::Size frame, double sigma, std::mt19937& random)
{
    cv::Mat noise(frame, CV_16SC3);
    cv::RNG generator(random());
    generator.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(sigma));
    return [noise](cv::Mat& image) {
        cv::Mat sum;
        image.convertTo(sum, CV_16SC3);
        sum += noise;
        sum.convertTo(image, CV_8UC3);
    };
}

ImageChange compressed(int quality)
{
    return [quality](cv::Mat& image) { image = jpeg(image, quality); };
}

} // namespace orb::samples
