// The camera faults of the category scenes measure what their levels say.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "support/scene_degradations.h"

using namespace orb::samples;

namespace {

const cv::Size kCard(400, 400);
const cv::Point2d kCentre(200, 200);

TEST(SceneDegradations, StainsCoverTheShareOfTheDataRingsAsked)
{
    cv::Mat data = cv::Mat::zeros(kCard, CV_8U);
    cv::circle(data, kCentre, 150, cv::Scalar(255), cv::FILLED);
    cv::circle(data, kCentre, 50, cv::Scalar(0), cv::FILLED);
    for (const double share : {0.03, 0.10, 0.15}) {
        std::mt19937 random(5);
        cv::Mat card(kCard, CV_8UC3, cv::Scalar::all(255));
        stains(kCard, kCentre, 50, 150, 10, share, random)(card);
        cv::Mat grey, changed;
        cv::cvtColor(card, grey, cv::COLOR_BGR2GRAY);
        cv::bitwise_and(grey < 250, data, changed);
        const double covered = cv::countNonZero(changed) / static_cast<double>(cv::countNonZero(data));
        EXPECT_GE(covered, share * 0.9) << share;
        EXPECT_LE(covered, share + 0.04) << share;
    }
}

TEST(SceneDegradations, ShadowAndGlareChangeTheLightByTheirLevel)
{
    CodeSpot spot{{200, 200}, 120, 8, {200, 80}};
    std::mt19937 random(3);
    cv::Mat frame(kCard, CV_8UC3, cv::Scalar::all(200));
    hardShadow(spot, 0.25, random)(frame);
    double darkest = 0, brightest = 0;
    cv::minMaxLoc(frame.reshape(1), &darkest, &brightest);
    EXPECT_NEAR(darkest, 50, 2);
    EXPECT_EQ(brightest, 200);

    cv::Mat grey(kCard, CV_8UC3, cv::Scalar::all(40));
    glare(spot, 160, random)(grey);
    cv::minMaxLoc(grey.reshape(1), &darkest, &brightest);
    EXPECT_NEAR(brightest, 200, 2);
    EXPECT_EQ(darkest, 40);
}

TEST(SceneDegradations, FingerHidesTheRimOnTheStartMarkerSideOnly)
{
    CodeSpot spot{{200, 200}, 120, 8, {200, 80}}; // start marker straight up
    std::mt19937 random(9);
    cv::Mat frame(kCard, CV_8UC3, cv::Scalar::all(255));
    finger(spot, 0.3, random)(frame);
    const auto covered = [&](cv::Point p) { return frame.at<cv::Vec3b>(p) != cv::Vec3b(255, 255, 255); };
    EXPECT_TRUE(covered({200, 82}));   // the rim at the start marker
    EXPECT_TRUE(covered({200, 105}));  // a fifth of the radius in
    EXPECT_FALSE(covered({200, 160})); // not half way
    EXPECT_FALSE(covered({200, 318})); // nor the far rim
}

} // namespace
