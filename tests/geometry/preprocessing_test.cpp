#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/decoder_configuration.h"
#include "orb/geometry/preprocessing.h"
#include "orb/result_code.h"

using namespace orb;

namespace {

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Straightforward single-threaded percentile stretch, to check the parallel one against.
cv::Mat referenceStretch(const cv::Mat& image, float fraction)
{
    const int n = static_cast<int>(static_cast<float>(image.cols) * static_cast<float>(image.rows) * fraction);
    cv::Mat result = image.clone();
    for (int c = 0; c < 3; ++c) {
        std::array<int, 256> histogram{};
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.cols; ++x) ++histogram[image.at<cv::Vec3b>(y, x)[c]];
        int sum = 0, low = 0, high = 255;
        while (sum < n) sum += histogram[low++];
        sum = 0;
        while (sum < n) sum += histogram[high--];
        const int range = static_cast<std::uint8_t>(high - low);
        const int lowByte = static_cast<std::uint8_t>(low);
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.cols; ++x) {
                const int v = ((image.at<cv::Vec3b>(y, x)[c] - lowByte) * 255) / range;
                result.at<cv::Vec3b>(y, x)[c] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
    }
    return result;
}

} // namespace

TEST(EnhanceImage, BlackAndWhiteStretchMapsTheEdgeValues)
{
    // Flat images, so the median and the blur keep the stretched value.
    for (const auto& [in, out] : std::vector<std::pair<int, int>>{{47, 0}, {48, 0}, {100, 130}, {150, 255}, {151, 255}}) {
        const cv::Mat image(20, 20, CV_8UC1, cv::Scalar(in));
        const cv::Mat enhanced = enhanceImage(image, BlackAndWhite);
        EXPECT_EQ(enhanced.at<std::uint8_t>(10, 10), out) << "input " << in;
        EXPECT_EQ(enhanced.type(), CV_8UC1);
        EXPECT_EQ(image.at<std::uint8_t>(0, 0), in); // input untouched
    }
    const cv::Mat colour(20, 20, CV_8UC3, cv::Scalar(48, 100, 150));
    EXPECT_EQ(enhanceImage(colour, BlackAndWhite).at<cv::Vec3b>(5, 5), cv::Vec3b(0, 130, 255));
}

TEST(EnhanceImage, BandsGiveTheWholeImageFilters)
{
    // The enhancement is smoothed in bands, one per thread; whatever the
    // number of bands, every row must be what the filters give the whole
    // image, at the band seams and at the image's edges.
    const auto wholeImage = [](const cv::Mat& image, int codeType) {
        cv::Mat stretched, median, result;
        if (codeType == Color) stretched = contrastAdjustment(image, 0.001f);
        else image.convertTo(stretched, -1, 2.5, -120);
        cv::medianBlur(stretched, median, 3);
        cv::GaussianBlur(median, result, cv::Size(5, 5), 0, 0);
        return result;
    };
    const int threads = cv::getNumThreads();
    cv::RNG rng(7);
    for (const int bandThreads : {1, 2, 5}) {
        cv::setNumThreads(bandThreads);
        for (const cv::Size size : {cv::Size(40, 3), cv::Size(97, 129), cv::Size(64, 331)})
            for (const int type : {CV_8UC1, CV_8UC3})
                for (const int codeType : {BlackAndWhite, Color}) {
                    if (codeType == Color && type == CV_8UC1) continue;
                    cv::Mat image(size, type);
                    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
                    const cv::Mat banded = enhanceImage(image, codeType);
                    EXPECT_EQ(cv::norm(banded, wholeImage(image, codeType), cv::NORM_INF), 0)
                        << bandThreads << " threads, " << size << ", type " << type << ", code type " << codeType;
                }
    }
    cv::setNumThreads(threads);
}

TEST(EnhanceImage, MedianRemovesIsolatedSpeck)
{
    cv::Mat image(30, 30, CV_8UC1, cv::Scalar(0));
    image.at<std::uint8_t>(15, 15) = 255;
    EXPECT_EQ(cv::countNonZero(enhanceImage(image, BlackAndWhite)), 0);
}

TEST(OtsuBinarize, FixedThresholdIsStrict)
{
    cv::Mat image(1, 4, CV_8UC1);
    image.at<std::uint8_t>(0, 0) = 0;
    image.at<std::uint8_t>(0, 1) = 100;
    image.at<std::uint8_t>(0, 2) = 101;
    image.at<std::uint8_t>(0, 3) = 255;
    const cv::Mat binary = otsuBinarize(image, 100);
    EXPECT_EQ(binary.at<std::uint8_t>(0, 1), 0);
    EXPECT_EQ(binary.at<std::uint8_t>(0, 2), 255);
    EXPECT_EQ(binary.at<std::uint8_t>(0, 3), 255);
}

TEST(OtsuBinarize, AutomaticThresholdSplitsTwoLevelsAndConvertsColour)
{
    cv::Mat image(20, 20, CV_8UC3, cv::Scalar(40, 40, 40));
    image(cv::Rect(0, 0, 10, 20)).setTo(cv::Scalar(200, 200, 200));
    const cv::Mat binary = otsuBinarize(image, -1);
    EXPECT_EQ(binary.type(), CV_8UC1);
    EXPECT_EQ(binary.at<std::uint8_t>(5, 2), 255);
    EXPECT_EQ(binary.at<std::uint8_t>(5, 15), 0);
}

TEST(BinarizeColorMode, AnyBrightChannelIsWhite)
{
    cv::Mat image(40, 40, CV_8UC3, cv::Scalar(20, 20, 20));
    image(cv::Rect(0, 0, 20, 40)).setTo(cv::Scalar(220, 220, 220));
    image.at<cv::Vec3b>(10, 30) = cv::Vec3b(0, 0, 255);  // saturated red on the dark side
    image.at<cv::Vec3b>(12, 30) = cv::Vec3b(15, 15, 15); // darker than the threshold
    image.at<cv::Vec3b>(14, 30) = cv::Vec3b(255, 0, 0);  // saturated blue
    const cv::Mat binary = binarizeColorMode(image);
    EXPECT_EQ(binary.type(), CV_8UC1);
    EXPECT_EQ(binary.at<std::uint8_t>(10, 30), 255);
    EXPECT_EQ(binary.at<std::uint8_t>(14, 30), 255);
    EXPECT_EQ(binary.at<std::uint8_t>(12, 30), 0);
    EXPECT_EQ(binary.at<std::uint8_t>(30, 30), 0);
    EXPECT_EQ(binary.at<std::uint8_t>(30, 5), 255);
    EXPECT_THROW(binarizeColorMode(cv::Mat(10, 10, CV_8UC1, cv::Scalar(0))), OCException);
}

TEST(OtsuBinarize, LevelAndHistogramAreTheLibrarys)
{
    // The level is computed from a histogram counted on several cores; it
    // must be the one cv::threshold picks, for noise, for two- and
    // three-toned images, for a flat image and for odd widths.
    cv::RNG rng(11);
    std::vector<cv::Mat> images;
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 3), cv::Size(131, 97), cv::Size(640, 360)}) {
        cv::Mat noise(size, CV_8UC1);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
        images.push_back(noise);
        cv::Mat tones(size, CV_8UC1, cv::Scalar(rng.uniform(0, 256)));
        tones(cv::Rect(0, 0, (size.width + 1) / 2, size.height)).setTo(rng.uniform(0, 256));
        tones(cv::Rect(0, 0, size.width, (size.height + 2) / 3)).setTo(rng.uniform(0, 256));
        images.push_back(tones);
        cv::Mat peaks(size, CV_8UC1);
        rng.fill(peaks, cv::RNG::NORMAL, rng.uniform(40, 90), rng.uniform(1, 30));
        cv::Mat bright(size, CV_8UC1);
        rng.fill(bright, cv::RNG::NORMAL, rng.uniform(150, 220), rng.uniform(1, 30));
        bright.copyTo(peaks, bright > rng.uniform(150, 220));
        images.push_back(peaks);
    }
    for (int k = 0; k < 20; ++k) {
        cv::Mat steps(61, 83, CV_8UC1);
        rng.fill(steps, cv::RNG::UNIFORM, 0, rng.uniform(2, 6));
        images.push_back(steps * rng.uniform(1, 50));
    }
    for (const cv::Mat& image : images) {
        const GreyHistogram histogram = greyHistogram(image);
        cv::Mat counted;
        const int channels[] = {0};
        const int bins[] = {256};
        const float range[] = {0, 256};
        const float* ranges[] = {range};
        cv::calcHist(&image, 1, channels, cv::Mat(), counted, 1, bins, ranges);
        for (int b = 0; b < 256; ++b) ASSERT_EQ(histogram[b], counted.at<float>(b)) << "bin " << b;
        cv::Mat expected;
        const double level = cv::threshold(image, expected, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        EXPECT_EQ(otsuThreshold(histogram), level) << image.size();
        EXPECT_EQ(cv::norm(otsuBinarize(image, -1), expected, cv::NORM_INF), 0) << image.size();
    }
}

TEST(BinarizeImage, OpeningRemovesSpecksAndThinLinesButKeepsSquares)
{
    cv::Mat image(40, 40, CV_8UC1, cv::Scalar(0));
    image.at<std::uint8_t>(5, 5) = 255;                                // single pixel
    image(cv::Rect(2, 20, 36, 1)).setTo(255);                          // one-pixel line
    image(cv::Rect(20, 5, 3, 3)).setTo(255);                           // 3 x 3 square
    image(cv::Rect(0, 30, 40, 10)).setTo(255);                         // wide band for a sane threshold
    const cv::Mat binary = binarizeImage(image, BlackAndWhite);
    EXPECT_EQ(binary.at<std::uint8_t>(5, 5), 0);
    EXPECT_EQ(cv::countNonZero(binary.row(20)), 0);
    EXPECT_EQ(cv::countNonZero(binary(cv::Rect(20, 5, 3, 3))), 9);
    EXPECT_EQ(cv::countNonZero(binary(cv::Rect(19, 4, 5, 5))), 9); // square not grown
    EXPECT_EQ(cv::countNonZero(binary(cv::Rect(0, 30, 40, 10))), 400); // border of a white band kept
}

TEST(BinarizeImage, OpeningDetachesRegionsJoinedByOnePixelBridge)
{
    cv::Mat image(30, 40, CV_8UC1, cv::Scalar(0));
    image(cv::Rect(5, 10, 10, 10)).setTo(255);
    image(cv::Rect(25, 10, 10, 10)).setTo(255);
    image(cv::Rect(15, 14, 10, 1)).setTo(255);
    cv::Mat labels;
    EXPECT_EQ(cv::connectedComponents(image, labels), 2);
    EXPECT_EQ(cv::connectedComponents(binarizeImage(image, BlackAndWhite), labels), 3);
}

TEST(BinarizeImage, ColourCodesKeepColouredModulesWhite)
{
    cv::Mat image(40, 40, CV_8UC3, cv::Scalar(10, 10, 10));
    image(cv::Rect(0, 0, 20, 40)).setTo(cv::Scalar(230, 230, 230));
    image(cv::Rect(25, 10, 8, 8)).setTo(cv::Scalar(0, 200, 0));
    const cv::Mat binary = binarizeImage(image, Color);
    EXPECT_EQ(cv::countNonZero(binary(cv::Rect(25, 10, 8, 8))), 64);
    EXPECT_EQ(binary.at<std::uint8_t>(30, 35), 0);
}

TEST(ContrastAdjustment, TinyImagesAreUnchanged)
{
    cv::Mat image(20, 49, CV_8UC3); // 980 pixels: nothing to clip at 0.001
    cv::randu(image, 0, 256);
    EXPECT_TRUE(sameImage(contrastAdjustment(image, 0.001f), image));
    const cv::Mat single(1, 1, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_TRUE(sameImage(contrastAdjustment(single, 0.001f), single));
}

TEST(ContrastAdjustment, FlatChannelsGoDarkExceptWhite)
{
    // 1600 pixels clip one at each end; a flat channel then lies below its low bound.
    const cv::Mat image(40, 40, CV_8UC3, cv::Scalar(0, 77, 255));
    const cv::Mat stretched = contrastAdjustment(image, 0.001f);
    EXPECT_EQ(stretched.at<cv::Vec3b>(7, 7), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(stretched.at<cv::Vec3b>(39, 39), cv::Vec3b(0, 0, 255));
}

TEST(ContrastAdjustment, ChannelWithZeroRangeIsLeftAlone)
{
    // Channel 0 holds 100 and 102 only: both bounds land on 101.
    cv::Mat image(40, 40, CV_8UC3, cv::Scalar(100, 0, 0));
    image(cv::Rect(0, 0, 20, 40)).setTo(cv::Scalar(102, 255, 0));
    const cv::Mat stretched = contrastAdjustment(image, 0.001f);
    EXPECT_EQ(stretched.at<cv::Vec3b>(5, 5)[0], 102);
    EXPECT_EQ(stretched.at<cv::Vec3b>(5, 30)[0], 100);
    EXPECT_EQ(stretched.at<cv::Vec3b>(5, 5)[1], 255);
    EXPECT_EQ(stretched.at<cv::Vec3b>(5, 30)[1], 0);
}

TEST(ContrastAdjustment, ParallelStretchMatchesSerialOne)
{
    cv::Mat image(480, 640, CV_8UC3);
    cv::RNG rng(7);
    rng.fill(image, cv::RNG::NORMAL, cv::Scalar(120, 90, 160), cv::Scalar(30, 20, 40));
    const cv::Mat before = image.clone();
    const cv::Mat stretched = contrastAdjustment(image, 0.01f);
    EXPECT_TRUE(sameImage(stretched, referenceStretch(image, 0.01f)));
    EXPECT_TRUE(sameImage(image, before));
    // The stretch really spreads the values.
    double low = 0, high = 0;
    cv::minMaxLoc(stretched.reshape(1), &low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);
}

namespace {

// Paper at 200 with a hard shadow leaving a quarter of the light over its
// right half, softened over a few pixels as a real edge is, and ink dots
// and bars on both sides and across the edge.
cv::Mat shadowedCard(cv::Size size, int edge)
{
    cv::Mat reflectance(size, CV_32F, cv::Scalar(1.0));
    for (int x = 20; x + 12 < size.width; x += 40)
        for (int y = 20; y + 12 < size.height; y += 40) cv::rectangle(reflectance, cv::Rect(x, y, 12, 12), cv::Scalar(0.1), cv::FILLED);
    cv::Mat light(size, CV_32F, cv::Scalar(1.0));
    light.colRange(edge, size.width).setTo(0.25);
    cv::GaussianBlur(light, light, cv::Size(), 2.0);
    cv::Mat grey;
    cv::Mat(reflectance.mul(light) * 200).convertTo(grey, CV_8U);
    return grey;
}

} // namespace

// The edge of a hard shadow: both sides' paper comes out alike, with no
// darker band along the edge (a local maximum or mean leaves one about
// their reach wide), and the ink stays ink on both sides.
TEST(EvenPaperLight, ShadowEdgeLeavesNoBandAndInkStaysDark)
{
    const cv::Mat grey = shadowedCard({400, 240}, 203);
    const cv::Mat before = grey.clone();
    const cv::Mat even = evenPaperLight(grey);
    ASSERT_EQ(even.size(), grey.size());
    ASSERT_EQ(even.type(), CV_8UC1);
    EXPECT_TRUE(sameImage(grey, before)) << "the caller's image was written";

    // Paper: the columns on either side of the edge, away from the ink.
    const cv::Mat paper = even(cv::Rect(150, 0, 100, 15));
    double lowest = 0, highest = 0;
    cv::minMaxLoc(paper, &lowest, &highest);
    // A band would sink to about half the paper (the mean of both sides).
    EXPECT_GT(lowest, 200);
    EXPECT_LT(highest, 250);
    // Ink in the light and in the shadow.
    EXPECT_LT(even.at<std::uint8_t>(26, 26), 60);
    EXPECT_LT(even.at<std::uint8_t>(26, 346), 60);
}

// A frame larger than the long side asked for has its light measured on a
// reduced copy; the result keeps the frame's size and evens it all the same.
TEST(EvenPaperLight, LargeFrameIsMeasuredReducedAndKeepsItsSize)
{
    const cv::Mat grey = shadowedCard({1600, 400}, 803);
    const cv::Mat even = evenPaperLight(grey, 800, 21);
    ASSERT_EQ(even.size(), grey.size());
    EXPECT_NEAR(cv::mean(even(cv::Rect(600, 0, 150, 15)))[0], cv::mean(even(cv::Rect(850, 0, 150, 15)))[0], 8);
}

TEST(EvenPaperLight, ThinStripKeepsAPixelEachWay)
{
    // A strip far longer than the side it is evened at: the reduction must
    // not round its short side to nothing.
    const cv::Mat strip(1, 5000, CV_8UC1, cv::Scalar(200));
    const cv::Mat even = evenPaperLight(strip, 640, 21);
    EXPECT_EQ(even.size(), strip.size());
    EXPECT_EQ(shrunkBy(strip, 640.0 / 5000).size(), cv::Size(640, 1));
}
