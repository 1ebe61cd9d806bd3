#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include <opencv2/imgproc.hpp>

#include "orb/drawing/text_code.h"
#include "orb/geometry/blob_detector.h"
#include "orb/geometry/inner_circle.h"
#include "orb/geometry/preprocessing.h"
#include "support/log_capture.h"

namespace orb {
namespace {

constexpr int kShift = 4;

// Filled disc with a sub-pixel centre and radius.
void disc(cv::Mat& image, cv::Point2d centre, double radius, int value)
{
    const double f = 1 << kShift;
    cv::circle(image, cv::Point(cvRound(centre.x * f), cvRound(centre.y * f)), cvRound(radius * f), cv::Scalar(value),
               cv::FILLED, cv::LINE_8, kShift);
}

// White page, black ring around a white hub, black dot in the middle: what
// the binarised centre of a code looks like.
cv::Mat hubPicture(cv::Size size, cv::Point2d centre, double hub, double dot)
{
    cv::Mat image(size, CV_8UC1, cv::Scalar(255));
    disc(image, centre, hub * 1.5, 0);
    disc(image, centre, hub, 255);
    if (dot > 0) disc(image, centre, dot, 0);
    return image;
}

cv::SimpleBlobDetector::Params whiteBlobParams()
{
    cv::SimpleBlobDetector::Params params;
    params.filterByColor = true;
    params.blobColor = 255;
    params.filterByArea = true;
    params.minArea = 100;
    params.maxArea = 1e6f;
    params.filterByCircularity = true;
    params.minCircularity = 0.1f;
    params.maxCircularity = 1.0f;
    params.filterByInertia = false;
    params.filterByConvexity = false;
    params.minRepeatability = 1;
    return params;
}


TEST(BlobDetector, KeepsWhiteBlobsAndDropsHoleBorders)
{
    // The ring's outer edge is the border of a hole in the white page and
    // must not count; the hub inside it is the one white blob.
    cv::Mat image = hubPicture({400, 300}, {200.3, 150.6}, 60, 0);
    auto params = whiteBlobParams();
    params.maxArea = 50000; // not the page itself
    BlobDetector detector(params);
    std::vector<cv::KeyPoint> keypoints;
    detector.detect(image, keypoints);
    ASSERT_EQ(keypoints.size(), 1u);
    EXPECT_NEAR(keypoints[0].pt.x, 200.3, 0.5);
    EXPECT_NEAR(keypoints[0].pt.y, 150.6, 0.5);
    EXPECT_NEAR(keypoints[0].size, 60, 1.5);
    ASSERT_EQ(detector.blobContours.size(), 1u);
    ASSERT_EQ(detector.blobMoments.size(), 1u);
    EXPECT_NEAR(detector.blobMoments[0].m00, CV_PI * 60 * 60, 0.03 * CV_PI * 60 * 60);

    // A colour picture gives the same blobs through its gray conversion.
    cv::Mat colour;
    cv::cvtColor(image, colour, cv::COLOR_GRAY2BGR);
    detector.detect(colour, keypoints);
    EXPECT_EQ(keypoints.size(), 1u);

    // Black blobs on white are not white blobs.
    cv::Mat inverse = 255 - image;
    detector.detect(inverse, keypoints);
    for (const cv::KeyPoint& keypoint : keypoints) EXPECT_GT(std::abs(keypoint.size - 60), 5);
}

TEST(BlobDetector, AreaAndCircularityBoundsAreHalfOpen)
{
    cv::Mat image(200, 200, CV_8UC1, cv::Scalar(0));
    cv::rectangle(image, cv::Rect(50, 50, 41, 41), cv::Scalar(255), cv::FILLED);
    // The traced border of a 41 x 41 square encloses 40 x 40 pixels.
    const float area = 1600.f;
    // Largest float not above the measured ratio, so it sits exactly on the bound.
    const double ratio = 4 * CV_PI * 1600 / (160.0 * 160.0);
    float circularity = static_cast<float>(ratio);
    if (circularity > ratio) circularity = std::nextafter(circularity, 0.f);

    auto count = [&](cv::SimpleBlobDetector::Params params) {
        BlobDetector detector(params);
        std::vector<cv::KeyPoint> keypoints;
        detector.detect(image, keypoints);
        return keypoints.size();
    };
    auto params = whiteBlobParams();
    params.minArea = area;
    EXPECT_EQ(count(params), 1u);
    params = whiteBlobParams();
    params.maxArea = area;
    EXPECT_EQ(count(params), 0u);
    params = whiteBlobParams();
    params.minCircularity = circularity;
    EXPECT_EQ(count(params), 1u);
    params = whiteBlobParams();
    params.maxCircularity = circularity;
    EXPECT_EQ(count(params), 0u);
}

TEST(BlobDetector, AreaFilterSeesTheMomentsArea)
{
    // The area filter runs before the moments are taken, on the contour's
    // area: for traced contours, holes, specks and lines among them, it
    // must be the moments' m00 to the last bit.
    cv::Mat noise(120, 160, CV_8UC1);
    cv::RNG(5).fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat binary = noise > 128;
    cv::circle(binary, cv::Point(80, 60), 30, cv::Scalar(255), cv::FILLED);
    cv::circle(binary, cv::Point(80, 60), 10, cv::Scalar(0), cv::FILLED);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    ASSERT_GT(contours.size(), 100u);
    for (const auto& contour : contours) EXPECT_EQ(cv::contourArea(contour), cv::moments(contour).m00);
}

TEST(FindCircle, FindsHubAroundBlackDot)
{
    for (cv::Point2d centre : {cv::Point2d(640, 360), cv::Point2d(640.37, 360.21), cv::Point2d(500.5, 300.5)}) {
        cv::Mat image = hubPicture({1280, 720}, centre, 100, 33);
        DecoderConfiguration config;
        const Found<cv::RotatedRect> found = findCircle(image, config);
        ASSERT_EQ(found.code, Success);
        const cv::RotatedRect circle = *found;
        EXPECT_NEAR(circle.center.x, centre.x, 1.0);
        EXPECT_NEAR(circle.center.y, centre.y, 1.0);
        EXPECT_NEAR(std::max(circle.size.width, circle.size.height) / 2, 100, 1.5);
        // The dot is painted white into the working image.
        EXPECT_EQ(image.at<uchar>(cvRound(centre.y), cvRound(centre.x)), 255);
    }
}

TEST(FindCircle, WhiteCentreGoesStraightToBlobs)
{
    cv::Mat image = hubPicture({640, 480}, {300, 250}, 60, 0);
    DecoderConfiguration config;
    LogCapture log;
    const Found<cv::RotatedRect> found = findCircle(image, config);
        ASSERT_EQ(found.code, Success);
        const cv::RotatedRect circle = *found;
    EXPECT_EQ(log.text().find("Black center"), std::string::npos);
    EXPECT_NE(log.text().find("Debug\tfindCircle\n"), std::string::npos);
    EXPECT_NEAR(circle.center.x, 300, 1.0);
    EXPECT_NEAR(circle.size.width / 2, 60, 1.5);
}

TEST(FindCircle, NoBlobIsReportedWithPass)
{
    DecoderConfiguration config;
    {
        // Hub too small for the frame: below S/16.
        cv::Mat image = hubPicture({1280, 720}, {640, 360}, 40, 0);
        LogCapture log;
        EXPECT_EQ(findCircle(image, config).code, InnerCircleNotFound);
        EXPECT_NE(log.text().find("Trace\tCenter: No keypoints found, iteration = 2\n"), std::string::npos);
    }
    {
        // All white and all black pictures have nothing to find.
        cv::Mat white(100, 100, CV_8UC1, cv::Scalar(255));
        EXPECT_EQ(findCircle(white, config).code, InnerCircleNotFound);
        cv::Mat black(100, 100, CV_8UC1, cv::Scalar(0));
        EXPECT_EQ(findCircle(black, config).code, InnerCircleNotFound);
    }
}

TEST(FindCircle, BlackOnlyAtTheLastRowOrColumnStaysInsideTheImage)
{
    // The middle of the black pixels rounds half to even: on an even side
    // it can land one past the last row or column. The address sanitizer
    // build reports any read there.
    DecoderConfiguration config;
    const auto white = [] { return cv::Mat(480, 640, CV_8UC1, cv::Scalar(255)); };
    cv::Mat bottomRow = white();
    bottomRow.row(479).setTo(0);
    cv::Mat lastColumn = white();
    lastColumn.col(639).setTo(0);
    cv::Mat corner = white();
    corner.at<std::uint8_t>(479, 639) = 0;
    for (cv::Mat& image : {std::ref(bottomRow), std::ref(lastColumn), std::ref(corner)})
        EXPECT_EQ(findCircle(image, config).code, InnerCircleNotFound);
}

TEST(FindCircle, NearestBlobWinsAndSecondPassConfirms)
{
    // A second white blob far from the code: the hub is nearer the centre
    // of all black pixels and wins.
    cv::Mat image = hubPicture({1280, 720}, {500, 360}, 90, 0);
    disc(image, {1100, 150}, 70, 0);
    disc(image, {1100, 150}, 50 + 20, 0);
    disc(image, {1100, 150}, 65, 255);
    DecoderConfiguration config;
    const Found<cv::RotatedRect> found = findCircle(image, config);
        ASSERT_EQ(found.code, Success);
        const cv::RotatedRect circle = *found;
    EXPECT_NEAR(circle.center.x, 500, 1.0);
    EXPECT_NEAR(circle.size.width / 2, 90, 1.5);
}

TEST(FindCircle, PaintedDotStandingApartDoesNotBeatTheHub)
{
    // A large hub has a centre dot above the smallest blob size. The dot is
    // painted a little smaller than it is, and the thin dark rim left around
    // it can make the painted mark a blob of its own, as close to the centre
    // as the hub.
    TextCodeOptions options;
    DrawOptions drawing;
    drawing.pitch = 10;
    drawing.hubRadius = 21;
    drawing.canvas = {1280, 720};
    DecoderConfiguration config;
    for (cv::Point2d offset : {cv::Point2d(0.74, 0.21), cv::Point2d(0.37, 0.63), cv::Point2d(0, 0)}) {
        drawing.centreOffset = offset;
        cv::Mat image = binarizeImage(drawText("big hub", options, drawing).image, BlackAndWhite);
        const Found<cv::RotatedRect> found = findCircle(image, config);
        ASSERT_EQ(found.code, Success);
        const cv::RotatedRect circle = *found;
        EXPECT_NEAR(std::max(circle.size.width, circle.size.height) / 2, 210, 2) << offset;
    }
}

TEST(FindCircle, HubInsideACentredWhiteCardWins)
{
    // A code on a white card in front of a dark background: the card is a
    // larger white blob with the same centre, and must not be taken.
    DecoderConfiguration config;
    for (cv::Point2d offset : {cv::Point2d(0, 0), cv::Point2d(0.37, 0.21)}) {
        cv::Mat image(720, 1280, CV_8UC1, cv::Scalar(0));
        image(cv::Rect(640 - 300, 360 - 300, 600, 600)).setTo(255);
        const cv::Point2d centre = cv::Point2d(640, 360) + offset;
        disc(image, centre, 120, 0);
        disc(image, centre, 80, 255);
        disc(image, centre, 27, 0);
        const Found<cv::RotatedRect> found = findCircle(image, config);
        ASSERT_EQ(found.code, Success);
        const cv::RotatedRect circle = *found;
        EXPECT_NEAR(std::max(circle.size.width, circle.size.height) / 2, 80, 2) << offset;
    }
}

} // namespace
} // namespace orb
