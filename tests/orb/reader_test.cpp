#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/drawing/text_code.h"
#include "orb/found_codes.h"
#include "orb/logger.h"
#include "orb/reader.h"
#include "support/code_samples.h"

namespace orb {
namespace {

class Reader : public ::testing::Test {};

struct Drawn {
    cv::Mat image;
    TextCode code;
    cv::Point2d centre;  // in the image as returned
    double outerRadius;  // pixels
};

Drawn draw(const std::string& text, const TextCodeOptions& options, bool colour, cv::Point2d offset,
           cv::Size canvas = {1280, 720}, double pitch = 12)
{
    DrawOptions drawing;
    drawing.pitch = pitch;
    drawing.startAngle = 2.2;
    drawing.centreOffset = offset;
    drawing.canvas = canvas;
    drawing.codeType = colour ? Color : BlackAndWhite;
    Drawn drawn;
    drawn.code = writeTextCode(text, options, drawing.codeType);
    const DrawnCode code = drawCode(drawn.code.modules, drawn.code.modulesPerRing, drawn.code.ringCount, drawing);
    drawn.image = code.image;
    drawn.centre = code.plan.placement.centre;
    drawn.outerRadius = code.plan.geometry.outerRadius() * pitch;
    return drawn;
}

void expectPosition(const ReadResult& result, cv::Point2d centre, double outerRadius)
{
    EXPECT_NEAR(result.position.centre.x, centre.x, 2.0);
    EXPECT_NEAR(result.position.centre.y, centre.y, 2.0);
    ASSERT_EQ(result.position.outline.size(), 32u);
    for (const cv::Point2f& point : result.position.outline)
        EXPECT_NEAR(cv::norm(cv::Point2d(point) - centre), outerRadius, 0.05 * outerRadius);
    EXPECT_NEAR(result.position.outerRing.size.width / 2, outerRadius, 0.05 * outerRadius);
}

TEST_F(Reader, ReportsWhatTheDrawnCodeCarriesAndWhereItIs)
{
    TextCodeOptions options;
    options.eccType = Quartile;
    const Drawn plain = draw("Hello, reader!", options, false, {40.37, -20.21});
    const ReadResult result = readCode(plain.image);
    ASSERT_TRUE(result) << result.errorText();
    EXPECT_EQ(result.error, ReadError::Success);
    EXPECT_EQ(result.text(), "Hello, reader!");
    EXPECT_EQ(result.dataType, static_cast<DataType>(plain.code.dataType));
    EXPECT_EQ(result.eccType, EccType::Quartile);
    EXPECT_EQ(result.layout, Layout::HorizontalSnakeSmall);
    EXPECT_EQ(result.codeType, CodeType::BlackAndWhite);
    EXPECT_EQ(result.modulesPerRing, 32);
    EXPECT_EQ(result.ringCount, plain.code.ringCount);
    EXPECT_FALSE(result.mirrored);
    expectPosition(result, plain.centre, plain.outerRadius);

    // A colour code in another layout, in a frame wider than the working
    // width: the position comes back in the caller's pixels.
    options.modulesPerRing = 48;
    options.layout = Vertical;
    options.eccType = Low;
    const Drawn colour = draw("Colour 48", options, true, {-60.37, 30.21}, {1920, 1080}, 18);
    const ReadResult coloured = readCode(colour.image);
    ASSERT_TRUE(coloured) << coloured.errorText();
    EXPECT_EQ(coloured.text(), "Colour 48");
    EXPECT_EQ(coloured.codeType, CodeType::Color);
    EXPECT_EQ(coloured.layout, Layout::Vertical);
    EXPECT_EQ(coloured.eccType, EccType::Low);
    EXPECT_EQ(coloured.modulesPerRing, 48);
    expectPosition(coloured, colour.centre, colour.outerRadius);

    // Mirrored: flagged, and still located in the image as given.
    cv::Mat mirrored;
    cv::flip(plain.image, mirrored, 1);
    const ReadResult flipped = readCode(mirrored);
    ASSERT_TRUE(flipped) << flipped.errorText();
    EXPECT_TRUE(flipped.mirrored);
    expectPosition(flipped, {mirrored.cols - 1 - plain.centre.x, plain.centre.y}, plain.outerRadius);
    ReaderOptions notMirrored;
    notMirrored.tryMirrored = false;
    EXPECT_FALSE(readCode(mirrored, notMirrored));
}

// The search reports the places it tried in vain, where they are and why,
// and stops at the number of codes asked for.
TEST_F(Reader, SearchCodesReportsFailedPlacesAndStopsWhenAsked)
{
    TextCodeOptions options;
    const Drawn drawn = draw("found", options, false, {-320, 0}, {1280, 720}, 8);
    cv::Mat image = drawn.image.clone();
    // A shooting target on the right: a dot in a hub in a ring, and no code.
    const cv::Point target(960, 360);
    cv::circle(image, target, 60, cv::Scalar::all(0), cv::FILLED);
    cv::circle(image, target, 30, cv::Scalar::all(255), cv::FILLED);
    cv::circle(image, target, 10, cv::Scalar::all(0), cv::FILLED);

    const CodeSearch search = searchCodes(image);
    ASSERT_EQ(search.codes.size(), 1u);
    EXPECT_EQ(search.codes[0].text(), "found");
    EXPECT_EQ(search.error, ReadError::Success);
    ASSERT_FALSE(search.failed.empty());
    const ReadResult& failed = search.failed.front();
    EXPECT_FALSE(failed);
    EXPECT_LT(cv::norm(cv::Point2d(failed.position.centre) - cv::Point2d(target)), 3.0);
    ASSERT_EQ(failed.position.outline.size(), 32u);
    for (const cv::Point2f& point : failed.position.outline)
        EXPECT_NEAR(cv::norm(cv::Point2d(point) - cv::Point2d(target)), 30, 4);

    // Two codes: both, or the first alone when one is enough.
    cv::Mat two = drawn.image.clone();
    const Drawn other = draw("other", options, false, {320, 0}, {1280, 720}, 8);
    cv::Mat right = other.image(cv::Rect(640, 0, 640, 720));
    right.copyTo(two(cv::Rect(640, 0, 640, 720)));
    EXPECT_EQ(searchCodes(two).codes.size(), 2u);
    EXPECT_EQ(searchCodes(two, {}, 1).codes.size(), 1u);

    // Nothing read: the reason, as readCode gives it.
    const cv::Mat blank(480, 640, CV_8UC3, cv::Scalar::all(255));
    const CodeSearch none = searchCodes(blank);
    EXPECT_TRUE(none.codes.empty());
    EXPECT_EQ(none.error, readCode(blank).error);
}

// A read asked to keep its steps says why a code did not read: which image
// each run took, every stage with its outcome, and the finder's search.
TEST_F(Reader, TraceListsTheStepsOfEachRunAndTheSearch)
{
    // A small code far from the centre: the whole image does not read it.
    DrawOptions drawing;
    drawing.pitch = 6;
    drawing.hubRadius = 3;
    drawing.centreOffset = {-420.37, 200.21};
    drawing.canvas = {1280, 720};
    const DrawnCode drawn = drawText("traced", TextCodeOptions{}, drawing);
    EXPECT_TRUE(readCode(drawn.image).trace.empty()); // off unless asked

    ReaderOptions tracing;
    tracing.trace = true;
    const ReadResult read = readCode(drawn.image, tracing);
    ASSERT_TRUE(read) << read.errorText();
    ASSERT_FALSE(read.trace.empty());
    // The whole image fails at some stage, the finder finds the code off
    // centre, and the read of that place ends with the grid read.
    EXPECT_EQ(read.trace.front().image, "whole image");
    EXPECT_EQ(read.trace.front().stage, "inner circle");
    EXPECT_EQ(read.trace.front().size, drawn.image.size());
    const auto search = std::find_if(read.trace.begin(), read.trace.end(),
                                     [](const TraceStep& step) { return step.stage == "finder search"; });
    ASSERT_NE(search, read.trace.end());
    EXPECT_GE(search->places, 1);
    EXPECT_FALSE(search->codeType);
    EXPECT_TRUE(std::all_of(read.trace.begin(), search, [](const TraceStep& step) {
        return step.image == "whole image" && step.codeType && step.result != ReadError::Success;
    }));
    const TraceStep& last = read.trace.back();
    EXPECT_EQ(last.stage, "grid reading");
    EXPECT_EQ(last.result, ReadError::Success);
    EXPECT_EQ(last.codeType, CodeType::BlackAndWhite);
    EXPECT_EQ(last.image.rfind("place ", 0), 0u) << last.image;
    EXPECT_NE(last.image.find(" at 2"), std::string::npos) << last.image; // x near 220

    // Every code wanted: the whole image's first try finds no hub, which
    // is all a read of it would do, and a code this small is read from its
    // place alone.
    const CodeSearch all = searchCodes(drawn.image, tracing);
    ASSERT_EQ(all.codes.size(), 1u);
    ASSERT_GE(all.trace.size(), 2u);
    EXPECT_EQ(all.trace[0].image, "whole image");
    EXPECT_EQ(all.trace[0].stage, "inner circle");
    EXPECT_EQ(all.trace[0].result, ReadError::InnerCircleNotFound);
    EXPECT_EQ(all.trace[1].stage, "finder search");
    EXPECT_TRUE(std::none_of(all.trace.begin() + 2, all.trace.end(),
                             [](const TraceStep& step) { return step.image == "whole image"; }));

    // A blank image: the whole image has no hub, the search finds no place,
    // and the search with the ring's gaps bridged finds none either, nor
    // the one with the light evened; then the search with dark and light
    // swapped, with the fine passes alone, neither bridged nor followed by
    // a read of the whole image, as it found no hub at all.
    const CodeSearch none = searchCodes(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(255)), tracing);
    ASSERT_EQ(none.trace.size(), 5u);
    EXPECT_EQ(none.trace[0].image, "whole image");
    EXPECT_EQ(none.trace[0].stage, "inner circle");
    EXPECT_EQ(none.trace[0].result, ReadError::InnerCircleNotFound);
    EXPECT_EQ(none.trace[1].stage, "finder search");
    EXPECT_EQ(none.trace[1].places, 0);
    EXPECT_EQ(none.trace[1].result, ReadError::InnerCircleNotFound);
    EXPECT_EQ(none.trace[2].stage, "finder search");
    EXPECT_EQ(none.trace[2].view, "full size, gaps bridged");
    EXPECT_EQ(none.trace[3].image, "light evened");
    EXPECT_EQ(none.trace[3].places, 0);
    EXPECT_EQ(none.trace[4].image, "swapped polarity");
    EXPECT_EQ(none.trace[4].stage, "finder search");
    EXPECT_EQ(none.trace[4].view, "full size, fine passes");
    EXPECT_EQ(none.trace[4].places, 0);

    // A white disc in a black ring but no dot: the quick try takes it for a
    // hub, the search finds no place, and the whole image is not read again.
    cv::Mat target(480, 640, CV_8UC3, cv::Scalar::all(255));
    cv::circle(target, {320, 240}, 150, cv::Scalar::all(0), cv::FILLED);
    cv::circle(target, {320, 240}, 100, cv::Scalar::all(255), cv::FILLED);
    const CodeSearch targetSearch = searchCodes(target, tracing);
    EXPECT_TRUE(targetSearch.codes.empty());
    ASSERT_FALSE(targetSearch.trace.empty());
    EXPECT_NE(targetSearch.trace[0].result, ReadError::InnerCircleNotFound);
    EXPECT_EQ(std::count_if(targetSearch.trace.begin(), targetSearch.trace.end(),
                            [](const TraceStep& step) { return step.image == "whole image" && step.stage == "inner circle"; }),
              1);
}

// A code printed light on dark reads from the image with dark and light
// swapped; that image is read as a whole only behind a hub the chain's own
// search can take, or when the caller reads whole images without the search.
TEST_F(Reader, ReadsTheSwappedImageAsAWholeOnlyBehindALargeHub)
{
    const auto swapped = [](const cv::Mat& image) {
        cv::Mat inverse;
        cv::bitwise_not(image, inverse);
        return inverse;
    };
    const auto wholeSwappedRead = [](const std::vector<TraceStep>& trace) {
        return std::find_if(trace.begin(), trace.end(), [](const TraceStep& step) {
            return step.image == "swapped polarity" && step.codeType;
        });
    };
    ReaderOptions tracing;
    tracing.trace = true;

    // Large and centred: the swapped search, fine passes alone, finds its
    // hub, then the whole image reads.
    const Drawn large = draw("light on dark", TextCodeOptions{}, false, {0, 0});
    const ReadResult one = readCode(swapped(large.image), tracing);
    ASSERT_TRUE(one) << one.errorText();
    EXPECT_EQ(one.text(), "light on dark");
    const auto search = std::find_if(one.trace.begin(), one.trace.end(), [](const TraceStep& step) {
        return step.image == "swapped polarity" && step.stage == "finder search";
    });
    ASSERT_NE(search, one.trace.end());
    EXPECT_GE(search->places, 1);
    EXPECT_EQ(search->view, "full size, fine passes");
    const auto whole = wholeSwappedRead(one.trace);
    ASSERT_NE(whole, one.trace.end());
    EXPECT_GT(whole, search);
    EXPECT_EQ(one.trace.back().image, "swapped polarity");
    EXPECT_EQ(one.trace.back().result, ReadError::Success);

    // Without the search the caller asked for the whole image: it reads so.
    ReaderOptions wholeOnly = tracing;
    wholeOnly.findCodes = false;
    const ReadResult unsearched = readCode(swapped(large.image), wholeOnly);
    ASSERT_TRUE(unsearched) << unsearched.errorText();
    EXPECT_EQ(unsearched.text(), "light on dark");
    EXPECT_TRUE(std::none_of(unsearched.trace.begin(), unsearched.trace.end(),
                             [](const TraceStep& step) { return step.stage == "finder search"; }));

    // Small and off centre: read from its place, never as a whole, for one
    // code wanted or every code.
    DrawOptions drawing;
    drawing.pitch = 6;
    drawing.hubRadius = 3;
    drawing.centreOffset = {-300.37, 150.21};
    drawing.canvas = {1280, 720};
    const DrawnCode small = drawText("small light", TextCodeOptions{}, drawing);
    const ReadResult first = readCode(swapped(small.image), tracing);
    ASSERT_TRUE(first) << first.errorText();
    EXPECT_EQ(first.text(), "small light");
    EXPECT_EQ(wholeSwappedRead(first.trace), first.trace.end());
    const CodeSearch all = searchCodes(swapped(small.image), tracing);
    ASSERT_EQ(all.codes.size(), 1u);
    EXPECT_EQ(all.codes.front().text(), "small light");
    EXPECT_EQ(wholeSwappedRead(all.trace), all.trace.end());
}

// The search runs first and the whole image is read first only for a hub
// the chain's own search can take; a code the search cannot see (here its
// dot is gone) still reads as a whole once the places found have failed.
TEST_F(Reader, ReadsTheWholeImageWhenThePlacesFoundDoNot)
{
    DrawOptions drawing;
    drawing.pitch = 12;
    drawing.canvas = {1280, 720};
    const TextCode text = writeTextCode("no dot", TextCodeOptions{}, BlackAndWhite);
    const DrawnCode drawn = drawCode(text.modules, text.modulesPerRing, text.ringCount, drawing);
    cv::Mat image = drawn.image.clone();
    const double dot = drawn.plan.geometry.dotRadius() * drawing.pitch;
    cv::circle(image, cv::Point(drawn.plan.placement.centre), static_cast<int>(1.4 * dot), cv::Scalar::all(255),
               cv::FILLED);
    // A lone centre far from the code: found, and no code around it.
    const cv::Point lone(110, 110);
    cv::circle(image, lone, 26, cv::Scalar::all(0), cv::FILLED);
    cv::circle(image, lone, 17, cv::Scalar::all(255), cv::FILLED);
    cv::circle(image, lone, 6, cv::Scalar::all(0), cv::FILLED);

    ReaderOptions tracing;
    tracing.trace = true;
    // The whole image's first tries read it; the place found is still
    // tried, and fails.
    const CodeSearch search = searchCodes(image, tracing);
    ASSERT_EQ(search.codes.size(), 1u);
    EXPECT_EQ(search.codes.front().text(), "no dot");
    ASSERT_EQ(search.failed.size(), 1u);
    EXPECT_NEAR(search.failed.front().position.centre.x, 110, 2);
    EXPECT_TRUE(std::any_of(search.trace.begin(), search.trace.end(),
                            [](const TraceStep& step) { return step.image.rfind("place 1 at 110,110", 0) == 0; }));
    // Mirrored, it reads only beyond those tries: the place first, then the whole image in full.
    cv::Mat mirrored;
    cv::flip(image, mirrored, 1);
    const CodeSearch later = searchCodes(mirrored, tracing);
    ASSERT_EQ(later.codes.size(), 1u);
    EXPECT_TRUE(later.codes.front().mirrored);
    const auto place = std::find_if(later.trace.begin(), later.trace.end(),
                                    [](const TraceStep& step) { return step.image.rfind("place 1 at", 0) == 0; });
    EXPECT_TRUE(std::any_of(place, later.trace.end(), [](const TraceStep& step) {
        return step.image == "whole image" && step.result == ReadError::Success && step.stage == "grid reading";
    }));

    // With its dot the code reads the same way; beyond it the drawing is
    // blank paper, in which no search can find a place.
    const CodeSearch centred = searchCodes(drawn.image, tracing);
    ASSERT_EQ(centred.codes.size(), 1u);
    EXPECT_TRUE(centred.failed.empty());
    EXPECT_TRUE(std::all_of(centred.trace.begin(), centred.trace.end(),
                            [](const TraceStep& step) { return step.image == "whole image" && step.codeType; }));
}

// Once a code has read as a whole, the search for the others looks only
// beyond it: small codes just past its quiet zone, and in the corners,
// still read, and nothing on the large code counts as a failed place.
TEST_F(Reader, SearchesBeyondACodeReadWhole)
{
    const Drawn large = draw("large centred", TextCodeOptions{}, false, {0, 0});
    cv::Mat image = large.image.clone();
    const cv::Size card(150, 150);
    const auto paste = [&](const std::string& text, cv::Point corner) {
        DrawOptions drawing;
        drawing.pitch = 4;
        drawing.hubRadius = 3;
        drawing.startAngle = 0.7;
        drawing.canvas = card;
        drawText(text, TextCodeOptions{}, drawing).image.copyTo(image(cv::Rect(corner, card)));
    };
    // Placed in pairs about the centre, so the chain's own search, which
    // starts from the middle of the dark, still takes the large code.
    // Beside it: a pitch of its quiet zone, then the small card's margin.
    const int beside = static_cast<int>(large.outerRadius) + 12;
    const int x = static_cast<int>(large.centre.x), y = static_cast<int>(large.centre.y) - card.height / 2;
    paste("right of it", {x + beside, y});
    paste("left of it", {x - beside - card.width, y});
    paste("top left", {10, 10});
    paste("bottom right", {image.cols - 10 - card.width, image.rows - 10 - card.height});

    ReaderOptions tracing;
    tracing.trace = true;
    const CodeSearch search = searchCodes(image, tracing);
    ASSERT_EQ(search.codes.size(), 5u);
    EXPECT_EQ(search.codes[0].text(), "large centred");
    std::set<std::string> small;
    for (std::size_t k = 1; k < search.codes.size(); ++k) small.insert(search.codes[k].text());
    EXPECT_EQ(small, (std::set<std::string>{"right of it", "left of it", "top left", "bottom right"}));
    EXPECT_TRUE(search.failed.empty());
    // Read whole before the search, which finds no place on it.
    EXPECT_TRUE(search.trace.front().codeType);
    EXPECT_TRUE(std::none_of(search.trace.begin(), search.trace.end(), [&](const TraceStep& step) {
        return step.image.find(" at " + std::to_string(x) + ",") != std::string::npos;
    }));
}

// A search limited to an area finds the hubs inside it and reads them from
// the whole image: a code whose rings run far past the area reads all the
// same, at the same place; an area without its hub, or off the image, finds none.
TEST_F(Reader, SearchesOnlyTheAreaGivenAndReadsFromTheWholeImage)
{
    const Drawn left = draw("left code", TextCodeOptions{}, false, {-380.37, 60.21}, {1280, 720}, 6);
    cv::Mat image = left.image.clone();
    const Drawn right = draw("right code", TextCodeOptions{}, false, {380.37, -60.21}, {1280, 720}, 6);
    const cv::Rect rightHalf(640, 0, 640, 720);
    right.image(rightHalf).copyTo(image(rightHalf));

    const CodeSearch everywhere = searchCodes(image);
    ASSERT_EQ(everywhere.codes.size(), 2u);
    for (const ReadResult& code : everywhere.codes) {
        const Drawn& drawn = code.text() == "left code" ? left : right;
        // The reported hub: round the centre, well inside the code.
        const cv::RotatedRect& hub = code.position.hub;
        EXPECT_LT(cv::norm(cv::Point2d(hub.center) - drawn.centre), 2.0);
        EXPECT_NEAR(hub.size.width, hub.size.height, 0.05 * hub.size.width);
        EXPECT_LT(hub.size.width / 2, 0.75 * drawn.outerRadius);
        // The hub and its ring with a little room.
        const int reach = cvCeil(0.75 * hub.size.width);
        const cv::Rect near(cvRound(hub.center.x) - reach, cvRound(hub.center.y) - reach, 2 * reach, 2 * reach);
        const ReadResult found = readFoundCodeNear(image, near);
        ASSERT_TRUE(found) << code.text() << ": " << found.errorText();
        EXPECT_EQ(found.text(), code.text());
        expectPosition(found, drawn.centre, drawn.outerRadius);
        // Beside the hub, on the code's rings.
        EXPECT_FALSE(readFoundCodeNear(image, near + cv::Point(0, 2 * reach))) << code.text();
    }
    EXPECT_FALSE(readFoundCodeNear(image, cv::Rect(2000, 0, 100, 100)));
}

TEST_F(Reader, ReadsAFoundPlaceFirstAtADiscThatHoldsTheCode)
{
    const auto firstCutSide = [](int rings) {
        TextCodeOptions options;
        options.ringCount = rings;
        DrawOptions drawing;
        drawing.pitch = 6;
        drawing.hubRadius = 3;
        drawing.centreOffset = {-380.4, 150.3};
        drawing.canvas = {1280, 720};
        const DrawnCode drawn = drawText("disc", options, drawing);
        ReaderOptions tracing;
        tracing.trace = true;
        const CodeSearch search = searchCodes(drawn.image, tracing);
        EXPECT_EQ(search.codes.size(), 1u) << rings << " rings";
        const auto place = std::find_if(search.trace.begin(), search.trace.end(),
                                        [](const TraceStep& step) { return step.image.rfind("place ", 0) == 0; });
        return place == search.trace.end() ? 0 : place->size.width;
    };
    const int wide = firstCutSide(10), narrow = firstCutSide(4);
    EXPECT_GT(wide, narrow);
    EXPECT_GT(narrow, 0);
}

// Codes in a grid, more than the places the search may read in vain: each
// reads, and only places that fail count towards that limit.
TEST_F(Reader, ReadsEveryCodeOfACrowdedImage)
{
    const int columns = 6, rows = 4, tile = 220;
    cv::Mat grid(rows * tile, columns * tile, CV_8UC3, cv::Scalar::all(255));
    std::multiset<std::string> drawn;
    for (int i = 0; i < columns * rows; ++i) {
        const std::string text = "code " + std::to_string(i);
        DrawOptions drawing;
        drawing.pitch = 6;
        drawing.hubRadius = 3;
        drawing.startAngle = 0.3 * i;
        drawing.canvas = {tile, tile};
        drawText(text, TextCodeOptions{}, drawing).image.copyTo(grid(cv::Rect(i % columns * tile, i / columns * tile, tile, tile)));
        drawn.insert(text);
    }
    const CodeSearch search = searchCodes(grid);
    std::multiset<std::string> read;
    for (const ReadResult& code : search.codes) read.insert(code.text());
    EXPECT_EQ(read, drawn);
    EXPECT_FALSE(search.candidateLimitReached);
    std::multiset<std::string> readAgain;
    for (const ReadResult& code : readCodes(grid)) readAgain.insert(code.text());
    EXPECT_EQ(readAgain, drawn);

    // With no failure allowed the search reads no place, and says so.
    ReaderOptions none;
    none.maxCandidates = 0;
    const CodeSearch stopped = searchCodes(grid, none);
    EXPECT_TRUE(stopped.codes.empty());
    EXPECT_TRUE(stopped.candidateLimitReached);
}

TEST_F(Reader, TriesOtherCodeTypesAndLayoutsOnlyWhenAsked)
{
    const cv::Mat colour = cv::imread(ORB_SOURCE_DIR "/examples/colour-48.png");
    const cv::Mat scrambled = cv::imread(ORB_SOURCE_DIR "/examples/scrambled-64.png");
    ASSERT_FALSE(colour.empty());
    ASSERT_FALSE(scrambled.empty());

    const ReadResult anyColour = readCode(colour);
    ASSERT_TRUE(anyColour) << anyColour.errorText();
    EXPECT_EQ(anyColour.text(), "Colour code: three bits per module");
    EXPECT_EQ(anyColour.codeType, CodeType::Color);
    const ReadResult anyLayout = readCode(scrambled);
    ASSERT_TRUE(anyLayout) << anyLayout.errorText();
    EXPECT_EQ(anyLayout.text(), "https://example.org/orbel?ring=64");
    EXPECT_EQ(anyLayout.layout, Layout::Scrambled);

    ReaderOptions fixed;
    fixed.codeTypes = std::vector{CodeType::BlackAndWhite};
    fixed.layout = Layout::HorizontalSnakeSmall;
    for (const cv::Mat& image : {colour, scrambled}) {
        const ReadResult result = readCode(image, fixed);
        EXPECT_FALSE(result);
        EXPECT_NE(result.error, ReadError::Success);
        EXPECT_FALSE(result.errorText().empty());
        EXPECT_TRUE(result.bytes.empty());
    }
}

TEST_F(Reader, FailuresAreValuesAndOnlyUnreadableInputThrows)
{
    const cv::Mat blank(480, 640, CV_8UC3, cv::Scalar::all(255));
    const ReadResult none = readCode(blank);
    EXPECT_EQ(none.error, ReadError::InnerCircleNotFound);
    EXPECT_EQ(none.errorText(), "Inner circle not found");

    ReaderOptions colourOnly;
    colourOnly.codeTypes = std::vector{CodeType::Color};
    EXPECT_EQ(readCode(cv::Mat(480, 640, CV_8UC1, cv::Scalar(255)), colourOnly).error, ReadError::CodeTypeMismatch);
    ReaderOptions badLayout;
    badLayout.layout = static_cast<Layout>(9);
    EXPECT_EQ(readCode(blank, badLayout).error, ReadError::InvalidConfiguration);

    EXPECT_THROW(readCode(cv::Mat()), OCException);
    EXPECT_THROW(readCode(cv::Mat(20, 20, CV_16UC1)), OCException);
}

// Degraded codes where the random samples inside each module matter.
std::vector<cv::Mat> noisyCodes(unsigned seed, int count)
{
    std::mt19937 random(seed);
    std::vector<cv::Mat> images;
    for (int i = 0; i < count; ++i) {
        samples::SampleRecipe recipe;
        recipe.modulesPerRing = 16 << (i % 3);
        recipe.text = samples::randomText(random, Letters, 8);
        recipe.pitch = 10;
        images.push_back(samples::saltAndPepper(samples::drawSample(recipe).image, 0.12, random));
    }
    return images;
}

std::vector<std::string> readAll(const std::vector<cv::Mat>& images)
{
    std::vector<std::string> texts;
    for (const cv::Mat& image : images) {
        const ReadResult result = readCode(image);
        texts.push_back(result ? result.text() : result.errorText());
    }
    return texts;
}

TEST_F(Reader, SameImageSameResultOnEveryRunAndThread)
{
    const std::vector<cv::Mat> first = noisyCodes(3, 6);
    const std::vector<cv::Mat> second = noisyCodes(4, 6);
    const std::vector<std::string> alone = readAll(first);
    const std::vector<std::string> otherAlone = readAll(second);
    EXPECT_EQ(readAll(first), alone);

    std::vector<std::string> together;
    std::vector<std::string> otherTogether;
    std::thread worker([&] { otherTogether = readAll(second); });
    together = readAll(first);
    worker.join();
    EXPECT_EQ(together, alone);
    EXPECT_EQ(otherTogether, otherAlone);
}

} // namespace
} // namespace orb
