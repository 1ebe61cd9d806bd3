// The cheap look round a found hub that turns down places without a
// code's data rings, and the prepared image every search of a frame shares.
#include <gtest/gtest.h>

#include <random>

#include <opencv2/imgproc.hpp>

#include "orb/drawing/code_drawer.h"
#include "orb/finder/code_finder.h"
#include "orb/finder/data_rings.h"
#include "orb/geometry/preprocessing.h"
#include "support/code_samples.h"

using namespace orb;

namespace {

// A code of random modules (or of `fill` everywhere) on a white frame, its
// hub three pitches across, off the pixel grid.
cv::Mat codeImage(int modulesPerRing, int ringCount, double pitch, int fill = -1, std::int32_t codeType = BlackAndWhite)
{
    std::mt19937 random(static_cast<unsigned>(modulesPerRing * 31 + ringCount));
    std::vector<std::uint8_t> modules(static_cast<std::size_t>(ringCount * (modulesPerRing - 5)));
    const int values = codeType == Color ? 8 : 2;
    for (auto& module : modules) module = static_cast<std::uint8_t>(fill >= 0 ? fill : static_cast<int>(random() % values));
    DrawOptions drawing;
    drawing.pitch = pitch;
    drawing.hubRadius = 3;
    drawing.canvas = {640, 480};
    drawing.centreOffset = {20.37, -10.21};
    drawing.codeType = codeType;
    return greyImage(drawCode(modules, modulesPerRing, ringCount, drawing).image);
}

// The best place the finder gives on `grey`; fails the test when there is none.
CodeCandidate placeOn(const cv::Mat& grey)
{
    const std::vector<CodeCandidate> places = findCodeCandidates(grey);
    EXPECT_FALSE(places.empty());
    return places.empty() ? CodeCandidate{} : places.front();
}

TEST(DataRings, EveryCodeShowsThemSharpBlurredAndTilted)
{
    for (const int modules : {16, 32, 64})
        for (const double blur : {0.0, 0.6}) {
            // The hub where the finder puts it on the sharp code: blurred this
            // much, some hubs join the white through their zebra's notches.
            const double pitch = 7;
            const cv::Mat sharp = codeImage(modules, 4, pitch);
            const cv::Mat grey = blur > 0 ? samples::gaussianBlur(sharp, blur * pitch) : sharp;
            EXPECT_TRUE(showsDataRings(grey, placeOn(sharp))) << modules << " modules, blur " << blur;
        }
    // Even modules all round leave the bar and its white corridors.
    const cv::Mat even = codeImage(64, 3, 7, 0);
    EXPECT_TRUE(showsDataRings(even, placeOn(even)));
    // A colour code's data is grey in the grey image.
    const cv::Mat colour = codeImage(32, 3, 7, -1, Color);
    EXPECT_TRUE(showsDataRings(colour, placeOn(colour)));
    // Seen steeply from the side: the rays follow the hub's ellipse.
    cv::Mat tilted;
    const cv::Mat straight = codeImage(32, 4, 7);
    cv::resize(straight, tilted, cv::Size(straight.cols, straight.rows * 2 / 5), 0, 0, cv::INTER_AREA);
    EXPECT_TRUE(showsDataRings(tilted, placeOn(tilted)));
}

TEST(DataRings, TargetsAndWashersShowNone)
{
    for (const int background : {255, 120}) {
        cv::Mat target(480, 640, CV_8UC1, cv::Scalar(background));
        const cv::Point centre(300, 250);
        const int r = 40;
        cv::circle(target, centre, 2 * r, cv::Scalar(250), cv::FILLED, cv::LINE_AA);
        cv::circle(target, centre, 3 * r / 2, cv::Scalar(10), cv::FILLED, cv::LINE_AA);
        cv::circle(target, centre, r, cv::Scalar(250), cv::FILLED, cv::LINE_AA);
        cv::circle(target, centre, r / 3, cv::Scalar(10), cv::FILLED, cv::LINE_AA);
        EXPECT_FALSE(showsDataRings(target, placeOn(target))) << "on " << background;
    }
    // A hub whose rings would leave the image keeps its read.
    cv::Mat edge(480, 640, CV_8UC1, cv::Scalar(255));
    cv::circle(edge, {21, 240}, 20, cv::Scalar(0), cv::FILLED);
    cv::circle(edge, {21, 240}, 15, cv::Scalar(255), cv::FILLED);
    cv::circle(edge, {21, 240}, 5, cv::Scalar(0), cv::FILLED);
    EXPECT_TRUE(showsDataRings(edge, placeOn(edge)));
}

// Centres within a pixel of each other, in order.
void expectSamePlaces(const std::vector<CodeCandidate>& found, const std::vector<CodeCandidate>& expected)
{
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_LT(cv::norm(found[i].centre - expected[i].centre), 1.0) << i;
}

TEST(FinderImage, OnePreparedImageServesEverySearch)
{
    const cv::Mat grey = codeImage(32, 4, 7);
    const cv::Mat swapped = 255 - grey;
    const std::vector<CodeCandidate> plain = findCodeCandidates(grey);
    ASSERT_FALSE(plain.empty());

    // Light-on-dark codes in the captured image's own levels.
    const FinderImage prepared(swapped);
    expectSamePlaces(findCodeCandidates(prepared, {}, Shade::LightOnDark), plain);
    EXPECT_TRUE(findCodeCandidates(prepared, {}, Shade::DarkOnLight).empty());

    // The smear passes threshold the same means; a pass not prepared for is made on the spot.
    cv::Mat smeared;
    cv::blur(grey, smeared, cv::Size(1, 15));
    FinderOptions bridged;
    bridged.passes = smearPasses();
    bridged.passes.push_back({800, 31, 5});
    expectSamePlaces(findCodeCandidates(FinderImage(smeared), bridged), findCodeCandidates(smeared, bridged));
}

} // namespace
