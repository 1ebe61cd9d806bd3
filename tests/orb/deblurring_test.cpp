#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/deblurring.h"
#include "orb/drawing/code_drawer.h"
#include "orb/drawing/text_code.h"

namespace orb {
namespace {

// A cut as the reader makes one: hub radius 55 px, centred off the pixel grid.
constexpr double kPitch = 55.0 / 3;
const cv::Point2f kCentre(450.37f, 450.21f);

cv::Mat drawnCut()
{
    DrawOptions drawing;
    drawing.pitch = kPitch;
    drawing.hubRadius = 3;
    drawing.canvas = {900, 900};
    drawing.startAngle = 0.7;
    drawing.centreOffset = {0.37, 0.21};
    const TextCode code = writeTextCode("blur 17", {}, BlackAndWhite);
    cv::Mat grey;
    cv::cvtColor(drawCode(code.modules, code.modulesPerRing, code.ringCount, drawing).image, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

// A smear `length` pixels long at `degrees`, drawn large and reduced.
cv::Mat smeared(const cv::Mat& image, double length, double degrees)
{
    const int side = 2 * static_cast<int>(std::ceil(length / 2)) + 3, fine = 8;
    cv::Mat big = cv::Mat::zeros(side * fine, side * fine, CV_32F), kernel;
    const cv::Point2d middle(side * fine / 2.0, side * fine / 2.0);
    const double angle = degrees * CV_PI / 180;
    const cv::Point2d half = length * fine / 2 * cv::Point2d(std::cos(angle), std::sin(angle));
    cv::line(big, middle - half, middle + half, cv::Scalar(1), fine, cv::LINE_AA);
    cv::resize(big, kernel, cv::Size(side, side), 0, 0, cv::INTER_AREA);
    kernel /= cv::sum(kernel)[0];
    cv::Mat result;
    cv::filter2D(image, result, -1, kernel);
    return result;
}

cv::Mat noisy(const cv::Mat& image)
{
    cv::Mat noise(image.size(), CV_8S), result;
    cv::randn(noise, 0, 3);
    cv::add(image, noise, result, cv::noArray(), CV_8U);
    return result;
}

const cv::RotatedRect kHub(kCentre, cv::Size2f(110, 110), 0);

TEST(Deblurring, MeasuresDefocusAndSmearOnTheHub)
{
    const cv::Mat cut = drawnCut();

    const Blur sharp = measuredBlur(noisy(cut), kHub);
    EXPECT_LT(sharp.spreadAlong(sharp.direction), 0.25 * kPitch);

    cv::Mat defocused;
    cv::GaussianBlur(cut, defocused, cv::Size(), 0.4 * kPitch);
    const Blur defocus = measuredBlur(noisy(defocused), kHub);
    EXPECT_NEAR(defocus.sigma, 0.4 * kPitch, 0.1 * kPitch);
    EXPECT_LT(defocus.length, 0.6 * kPitch);

    const Blur motion = measuredBlur(noisy(smeared(cut, 2 * kPitch, 35)), kHub);
    EXPECT_NEAR(motion.length, 2 * kPitch, 0.6 * kPitch);
    EXPECT_LT(motion.sigma, 0.3 * kPitch);
    // A direction and its opposite are one smear.
    const double turn = std::remainder(motion.direction - 35 * CV_PI / 180, CV_PI);
    EXPECT_LT(std::abs(turn), 10 * CV_PI / 180);
}

TEST(Deblurring, SmearStretchingTheHubsOutlineIsMeasuredOnTheHubAsDrawn)
{
    const cv::Mat cut = drawnCut();
    // The finder outlines a hub smeared along x longer along x.
    const cv::RotatedRect outline(kCentre, cv::Size2f(110 + 1.5f * static_cast<float>(kPitch), 110), 0);
    const CentreBlur motion = measuredCentreBlur(noisy(smeared(cut, 1.5 * kPitch, 0)), outline);
    EXPECT_LT(motion.hub.size.width, outline.size.width - 0.4 * kPitch);
    EXPECT_FLOAT_EQ(motion.hub.size.height, outline.size.height);
    EXPECT_NEAR(motion.blur.length, 1.5 * kPitch, 0.5 * kPitch);
    EXPECT_LT(std::abs(std::remainder(motion.blur.direction, CV_PI)), 20 * CV_PI / 180);

    // A defocus widens the outline evenly: a long one is the code's tilt.
    cv::Mat defocused;
    cv::GaussianBlur(cut, defocused, cv::Size(), 0.5 * kPitch);
    const cv::RotatedRect tilted(kCentre, cv::Size2f(118, 110), 0);
    const CentreBlur defocus = measuredCentreBlur(noisy(defocused), tilted);
    EXPECT_FLOAT_EQ(defocus.hub.size.width, tilted.size.width);
    EXPECT_GT(defocus.blur.sigma, 0.3 * kPitch);
}

TEST(Deblurring, UndoingTheBlurRestoresTheEdges)
{
    const cv::Mat cut = drawnCut();
    cv::Mat defocused;
    cv::GaussianBlur(cut, defocused, cv::Size(), 0.4 * kPitch);
    const Blur blur{0.4 * kPitch, 0, 0};
    const cv::Mat restored = deblurred(defocused, blur, 1e-4);
    ASSERT_EQ(restored.size(), cut.size());
    ASSERT_EQ(restored.type(), CV_8UC1);
    // Nearer the drawn code than the blurred one is, everywhere on average.
    const auto distance = [&](const cv::Mat& image) { return cv::norm(image, cut, cv::NORM_L1) / cut.total(); };
    EXPECT_LT(distance(restored), 0.6 * distance(defocused));

    // One transform for several trials: the widest as on its own, a
    // narrower one restoring as well within a grey level (its padding is
    // the widest's).
    const BlurRemoval removal(defocused, blur);
    EXPECT_EQ(cv::norm(removal.without(blur, 1e-4), restored, cv::NORM_INF), 0);
    const Blur narrower{0.3 * kPitch, 0, 0};
    EXPECT_LE(cv::norm(removal.without(narrower, 1e-4), deblurred(defocused, narrower, 1e-4), cv::NORM_L1) / cut.total(),
              1.0);
}

} // namespace
} // namespace orb
