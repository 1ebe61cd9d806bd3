#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/geometry/image_corrections.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/grid_reader.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"

namespace orb {
namespace {

// Blue, green, red of each colour module value.
const cv::Vec3b kColours[8] = {
    {255, 255, 255}, {0, 0, 0},     {0, 0, 255},   {0, 255, 0},
    {255, 0, 0},     {255, 255, 0}, {255, 0, 255}, {0, 255, 255},
};

// Paints a grid pixel by pixel in polar coordinates around the image centre:
// module (ring, position) of the physical vector gets its value's colour,
// everything else is white.
cv::Mat paintGrid(const std::vector<std::uint8_t>& modules, int M, const RingGrid& grid, double startAngle,
                  cv::Size size = {400, 400}, double pitch = 0)
{
    if (pitch == 0) pitch = (grid.lastRadius - grid.firstRadius) / (grid.ringCount - 1);
    cv::Mat image(size, CV_8UC3, cv::Scalar::all(255));
    const cv::Point2d C(size.width * 0.5, size.height * 0.5);
    const double alpha = kTwoPi / M;
    const int perRing = dataModulesPerRing(M);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double rho = std::hypot(x - C.x, y - C.y);
            const int ring = static_cast<int>(std::floor((rho - grid.firstRadius) / pitch + 0.5));
            if (ring < 0 || ring >= grid.ringCount) continue;
            const double theta = std::atan2(C.y - y, x - C.x);
            int position = static_cast<int>(std::lround((startAngle - theta) / alpha)) % M;
            if (position < 0) position += M;
            if (position < kFirstDataPosition || position >= M - 2) continue;
            const int row = gridRow(ring, grid.ringCount);
            image.at<cv::Vec3b>(y, x) = kColours[modules[row * perRing + position - kFirstDataPosition]];
        }
    }
    return image;
}

std::vector<std::uint8_t> randomModules(std::size_t count, int values, unsigned seed)
{
    std::srand(seed);
    std::vector<std::uint8_t> modules(count);
    for (auto& module : modules) module = static_cast<std::uint8_t>(std::rand() % values);
    return modules;
}

const std::vector<std::int32_t> kDefaultLayout = {HorizontalSnakeSmall};

TEST(SampleModule, ThresholdsOfTheCross)
{
    DecoderConfiguration config;
    cv::Mat image(20, 20, CV_8UC3);
    GridReader reader(config, image, 32, 3);
    SampleRandom random(kSampleSeed);
    // Without random samples the five-pixel cross decides: 5 * 128 > 637.
    image.setTo(cv::Scalar::all(128));
    EXPECT_EQ(reader.sampleModule({10, 10}, 0, 0, 0, 0, random), 0);
    image.setTo(cv::Scalar::all(127));
    EXPECT_EQ(reader.sampleModule({10, 10}, 0, 0, 0, 0, random), 1);
    // Black and white: two lit channels already make a light module.
    image.setTo(cv::Scalar(255, 255, 0));
    EXPECT_EQ(reader.sampleModule({10, 10}, 0, 0, 0, 0, random), 0);
    image.setTo(cv::Scalar(0, 0, 255));
    EXPECT_EQ(reader.sampleModule({10, 10}, 0, 0, 0, 0, random), 1);
    // Random samples stay inside the module and raise the threshold with them.
    image.setTo(cv::Scalar::all(0));
    image(cv::Rect(6, 6, 9, 9)).setTo(cv::Scalar::all(255));
    EXPECT_EQ(reader.sampleModule({10, 10}, 0.7, 7, 7, 8, random), 0);
}

TEST(SampleModule, ColourValues)
{
    DecoderConfiguration config;
    config.codeType = Color;
    cv::Mat image(20, 20, CV_8UC3);
    GridReader reader(config, image, 32, 3);
    SampleRandom random(kSampleSeed);
    EXPECT_EQ(reader.bitsPerModule, 3);
    for (int value = 0; value < 8; ++value) {
        image.setTo(cv::Scalar(kColours[value][0], kColours[value][1], kColours[value][2]));
        EXPECT_EQ(reader.sampleModule({10, 10}, 1.0, 10, 6, 10, random), value) << "value " << value;
    }
}

TEST(SampleModule, PixelOutsideTheImageIsNoValue)
{
    DecoderConfiguration config;
    cv::Mat image(20, 20, CV_8UC3, cv::Scalar::all(255));
    GridReader reader(config, image, 32, 3);
    SampleRandom random(kSampleSeed);
    EXPECT_FALSE(reader.sampleModule({19, 10}, 0, 0, 0, 0, random)); // the cross reaches x = 20
    EXPECT_FALSE(reader.sampleModule({10, 0}, 0, 0, 0, 0, random));
    EXPECT_TRUE(reader.sampleModule({18, 1}, 0, 0, 0, 0, random));
}

TEST(ReadModules, ReadsBackAPaintedGrid)
{
    for (int M : {16, 32, 48, 64}) {
        const RingGrid grid{5, 60, 160};
        const double angle = 1.234;
        const auto expected = randomModules(grid.ringCount * dataModulesPerRing(M), 2, M);
        DecoderConfiguration config;
        const cv::Mat image = paintGrid(expected, M, grid, angle);
        const GridReader reader(config, image, M, grid.ringCount);
        const auto modules = reader.readModules({200, 200}, angle, grid);
        ASSERT_TRUE(modules);
        EXPECT_EQ(*modules, expected) << "M " << M;
    }
    // Colour modules.
    const int M = 32;
    const RingGrid grid{4, 70, 160};
    const auto expected = randomModules(grid.ringCount * dataModulesPerRing(M), 8, 7);
    DecoderConfiguration config;
    config.codeType = Color;
    const GridReader reader(config, paintGrid(expected, M, grid, 4.0), M, grid.ringCount);
    const auto modules = reader.readModules({200, 200}, 4.0, grid);
    ASSERT_TRUE(modules);
    EXPECT_EQ(*modules, expected);
}

TEST(ReadModules, NarrowPitchIsRaisedToFive)
{
    // The grid claims 3 px between rings; the rings are read 5 px apart.
    const int M = 16;
    const RingGrid grid{4, 100, 109};
    const auto expected = randomModules(grid.ringCount * dataModulesPerRing(M), 2, 3);
    DecoderConfiguration config;
    const cv::Mat image = paintGrid(expected, M, grid, 0.3, {400, 400}, 5.0);
    const GridReader reader(config, image, M, grid.ringCount);
    const auto modules = reader.readModules({200, 200}, 0.3, grid);
    ASSERT_TRUE(modules);
    EXPECT_EQ(*modules, expected);
}

TEST(ReadModules, FiveModulesPerRingHoldNoData)
{
    DecoderConfiguration config;
    const GridReader reader(config, cv::Mat(100, 100, CV_8UC3, cv::Scalar::all(255)), 5, 3);
    const auto modules = reader.readModules({50, 50}, 0, RingGrid{3, 10, 30});
    ASSERT_TRUE(modules);
    EXPECT_TRUE(modules->empty());
}

TEST(ReadGridData, DecodesAWrittenCode)
{
    const int M = 32;
    const RingGrid grid{6, 60, 160};
    DecoderConfiguration config;
    const std::string text = "Ring grid 42";
    for (int mask : {0, 3}) {
        const auto modules = writeModules(text, Automatic, Medium, config.layout, mask, grid.ringCount,
                                          dataModulesPerRing(M), 1);
        const cv::Mat image = paintGrid(modules, M, grid, 2.0);
        const Found<GridReading> read = readGridData(StageInput{config, image}, M, 2.0, grid, kDefaultLayout);
        ASSERT_EQ(read.code, Success) << "mask " << mask;
        EXPECT_EQ(read->text, text);
        EXPECT_EQ(read->eccType, Medium);
        EXPECT_EQ(read->layout, HorizontalSnakeSmall);
    }
}

TEST(ReadGridData, StainedModulesAreReadAsErasures)
{
    // Grey blots over white modules in every other ring: each reads dark
    // at the fixed threshold, more bytes wrong than the parity corrects,
    // but each is paler than black around it.
    const int M = 32;
    const RingGrid grid{6, 60, 160};
    const double pitch = (grid.lastRadius - grid.firstRadius) / (grid.ringCount - 1);
    DecoderConfiguration config;
    const std::string text = "Ring grid 42";
    const auto modules = writeModules(text, Automatic, Medium, config.layout, 2, grid.ringCount,
                                      dataModulesPerRing(M), 1);
    cv::Mat image = paintGrid(modules, M, grid, 2.0);
    int blots = 0;
    for (int ring = 1; ring < grid.ringCount; ring += 2)
        for (int column = 4 * ring; column < dataModulesPerRing(M); ++column)
            if (modules[gridRow(ring, grid.ringCount) * dataModulesPerRing(M) + column] == 0) {
                // An arc over the module, drawn clockwise from the image's x axis.
                const double degrees = -moduleAngle(2.0, column + kFirstDataPosition, M) / kDegree;
                const double half = 0.9 * 180.0 / M;
                const int rho = static_cast<int>(ringRadius(grid.firstRadius, pitch, ring));
                cv::ellipse(image, cv::Point(200, 200), cv::Size(rho, rho), 0, degrees - half, degrees + half,
                            cv::Scalar::all(95), static_cast<int>(pitch) - 4);
                ++blots;
                break;
            }
    ASSERT_EQ(blots, 3);
    const Found<GridReading> read = readGridData(StageInput{config, image}, M, 2.0, grid, kDefaultLayout);
    ASSERT_EQ(read.code, Success);
    EXPECT_EQ(read->text, text);
    EXPECT_EQ(read->erasures, 3);
    EXPECT_EQ(read->correctedErrors, 3);
}

TEST(ReadGridData, BadGridsAreWrongGridResults)
{
    // A grid that leaves the image must come back as a result, not end the
    // whole decode, so the corrections and the mirrored attempt still run.
    const int M = 32;
    DecoderConfiguration config;
    const cv::Mat image(400, 400, CV_8UC3, cv::Scalar::all(255));
    const auto read = [&](const RingGrid& grid) {
        return readGridData(StageInput{config, image}, M, 0.5, grid, kDefaultLayout).code;
    };
    ResultCode rc = Success;
    EXPECT_NO_THROW(rc = read(RingGrid{6, 100, 260}));
    EXPECT_EQ(rc, WrongGrid);
    // One ring has no pitch.
    EXPECT_EQ(read(RingGrid{1, 100, 100}), WrongGrid);
    EXPECT_EQ(read(RingGrid{0, 0, 0}), WrongGrid);
    // A grid that fits but holds no code fails in the payload, not the grid.
    rc = read(RingGrid{6, 60, 160});
    EXPECT_NE(rc, Success);
    EXPECT_NE(rc, WrongGrid);
}

TEST(SampleModule, OffsetStepsAreTheStandardUniformDraws)
{
    // The same steps as the library's uniform distribution draws from the
    // same engine, so that reads come out as they always did.
    SampleRandom ours(kSampleSeed);
    SampleRandom theirs(kSampleSeed);
    std::uniform_int_distribution<int> step(0, kOffsetSteps);
    for (int i = 0; i < 200000; ++i) ASSERT_EQ(drawOffsetStep(ours), step(theirs)) << i;
}

TEST(ReadGridData, TheRingWarpedWhereSampledReadsAsTheWarpedImage)
{
    // A written code seen through a slight perspective: the final transform's
    // ring read pixel by pixel decodes, and gives the modules the whole warped
    // image gives, also for a ring cut by the image edge.
    const int M = 32;
    const RingGrid grid{6, 60, 160};
    DecoderConfiguration config;
    const std::string text = "Ring grid 42";
    const auto written = writeModules(text, Automatic, Medium, config.layout, 1, grid.ringCount,
                                      dataModulesPerRing(M), 1);
    const cv::Mat image = paintGrid(written, M, grid, 2.0);
    const cv::Mat binary(image.size(), CV_8UC1, cv::Scalar(0));
    const cv::Matx33d tilt(1.01, 0.02, -4.5, -0.01, 0.99, 3.25, 0.00003, -0.00002, 1);
    StartMarker marker;
    marker.rayStart = {200 + 40, 200};
    for (double outer : {175.0, 230.0}) {
        marker.barEnd = {200, 200 - outer};
        const cv::Mat whole = finalTransform(StageInput{config, binary}, image, tilt, marker);
        const WarpedRing ring(StageInput{config, binary}, image, tilt, marker);
        EXPECT_EQ(GridReader(config, ring.pixels(), M, grid.ringCount).readModules({200, 200}, 2.0, grid),
                  GridReader(config, whole, M, grid.ringCount).readModules({200, 200}, 2.0, grid));
    }
    const Found<GridReading> read =
        readGridData(config, WarpedRing(StageInput{config, binary}, image, cv::Matx33d::eye(), marker).pixels(), M, 2.0,
                     grid, kDefaultLayout);
    ASSERT_EQ(read.code, Success);
    EXPECT_EQ(read->text, text);
}

} // namespace
} // namespace orb
