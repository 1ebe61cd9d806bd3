#include <cmath>
#include <functional>
#include <utility>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "drawing/module_sampling.h"
#include "orb/drawing/code_drawer.h"
#include "orb/result_code.h"

namespace {

using namespace orb;
using drawing_test::checkModules;
using drawing_test::pixelAt;

std::vector<std::uint8_t> randomModules(int rings, int modulesPerRing, int bitsPerModule, std::mt19937& rng)
{
    std::vector<std::uint8_t> modules(static_cast<std::size_t>(rings) * dataModulesPerRing(modulesPerRing));
    std::uniform_int_distribution<int> value(0, (1 << bitsPerModule) - 1);
    for (auto& v : modules) v = static_cast<std::uint8_t>(value(rng));
    return modules;
}

// Every module count, 2 to 12 rings, pitches from 8 to 40, both code types,
// arbitrary rotations and centres off the pixel grid: each module reads back.
TEST(CodeDrawer, EveryModuleReadsBackWhereTheReaderSamples)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(0.0, kTwoPi);
    std::uniform_real_distribution<double> offset(-0.5, 0.5);
    const double pitches[] = {8.0, 9.5, 13.0, 17.3, 24.0, 40.0};
    int drawn = 0;
    for (int m : {16, 32, 48, 64})
        for (int r = 2; r <= 12; ++r) {
            const bool colour = (m / 16 + r) % 2 == 1;
            DrawOptions options;
            options.pitch = pitches[(m / 16 + r) % 6];
            options.startAngle = angle(rng);
            options.centreOffset = {offset(rng), offset(rng)};
            options.codeType = colour ? Color : BlackAndWhite;
            const auto modules = randomModules(r, m, colour ? 3 : 1, rng);
            const DrawnCode code = drawCode(modules, m, r, options);
            const auto check = checkModules(code.image, code.plan, modules, colour);
            EXPECT_EQ(check.wrongModules, 0) << "M " << m << " R " << r << " pitch " << options.pitch
                                             << " first wrong: " << check.firstWrong;
            // Pixels well inside a module are pure; edge pixels the reader
            // may reach leave the average clearly on the right side.
            EXPECT_LE(check.worstInterior, 16) << "M " << m << " R " << r << " pitch " << options.pitch;
            EXPECT_LE(check.worstAverage, 40) << "M " << m << " R " << r << " pitch " << options.pitch;
            ++drawn;
        }
    EXPECT_EQ(drawn, 44);
}

TEST(CodeDrawer, EveryPitchFrom8To40ReadsBack)
{
    std::mt19937 rng(11);
    for (double pitch = 8.0; pitch <= 40.0; pitch += 2.75) {
        for (bool colour : {false, true}) {
            DrawOptions options;
            options.pitch = pitch;
            options.startAngle = 0.3 + pitch;
            options.centreOffset = {0.37, 0.21};
            options.codeType = colour ? Color : BlackAndWhite;
            const auto modules = randomModules(6, 64, colour ? 3 : 1, rng);
            const DrawnCode code = drawCode(modules, 64, 6, options);
            const auto check = checkModules(code.image, code.plan, modules, colour);
            EXPECT_EQ(check.wrongModules, 0) << "pitch " << pitch << " colour " << colour;
        }
    }
}

bool isDark(const cv::Mat& image, cv::Point p)
{
    const cv::Vec3b px = image.at<cv::Vec3b>(p);
    return px[0] + px[1] + px[2] < 3 * 128;
}

// The patterns the structure detectors look for, at the centre of each
// position: bar, corridors, radial zebra, outer zebra, inner zebra notches,
// hub and dot. Data modules all light, so any dark spot is structure.
TEST(CodeDrawer, StructureSitsWhereTheDetectorsLook)
{
    for (int r : {3, 4}) {
        const int m = 32;
        DrawOptions options;
        options.pitch = 12;
        options.startAngle = 1.1;
        options.centreOffset = {-0.3, 0.45};
        const DrawnCode code = drawCode(std::vector<std::uint8_t>(r * dataModulesPerRing(m), 0), m, r, options);
        const CodeGeometry& g = code.plan.geometry;
        const cv::Point2d c = code.plan.placement.centre;
        const double p = options.pitch;
        auto at = [&](double radius, int position) {
            return pixelAt(c, radius * p, moduleAngle(options.startAngle, position, m));
        };
        for (int position = 0; position < m; ++position) {
            SCOPED_TRACE("R " + std::to_string(r) + " position " + std::to_string(position));
            EXPECT_TRUE(isDark(code.image, at(g.hubRadius + g.zebraBand() / 2, position)));
            EXPECT_EQ(isDark(code.image, at(g.hubRadius + 1.5 * g.zebraBand(), position)), position % 4 != 3);
            EXPECT_EQ(isDark(code.image, at(g.outerRadius() - 0.5, position)), position % 2 == 0);
            for (int ring = 0; ring < r; ++ring) {
                const bool dark = isDark(code.image, at(g.ringMiddleRadius(ring), position));
                if (position == 0) {
                    EXPECT_TRUE(dark);
                } else if (position == 2) {
                    EXPECT_EQ(dark, (r - 1 - ring) % 2 == 1) << "ring " << ring;
                } else {
                    EXPECT_FALSE(dark) << "ring " << ring;
                }
            }
            EXPECT_FALSE(isDark(code.image, at(g.hubRadius - 0.5, position)));
            EXPECT_FALSE(isDark(code.image, at(g.outerRadius() + 1, position)));
        }
        EXPECT_TRUE(isDark(code.image, pixelAt(c, 0, 0)));
        EXPECT_TRUE(isDark(code.image, at(g.dotRadius() - 0.3, 5)));
    }
}

// Edges land where the geometry puts them: the width of the dark outer ring
// along a ray, measured from the grey levels, is one pitch.
TEST(CodeDrawer, EdgesAreAntiAliasedAndInPlace)
{
    const int m = 16, r = 2;
    DrawOptions options;
    options.pitch = 9.3;
    options.startAngle = 0;
    options.centreOffset = {0.37, 0.21};
    const DrawnCode code = drawCode(std::vector<std::uint8_t>(r * dataModulesPerRing(m), 0), m, r, options);
    cv::Mat grey;
    cv::cvtColor(code.image, grey, cv::COLOR_BGR2GRAY);
    // Row through the centre, going left: the ray at angle pi crosses the
    // outer zebra's position M/2, which is black.
    const cv::Point2d c = code.plan.placement.centre;
    const int y = static_cast<int>(std::lround(c.y));
    double darkness = 0;
    int partial = 0;
    const double inner = code.plan.geometry.outerZebraInnerRadius() * options.pitch;
    for (int x = 0; x < c.x - inner + 2; ++x) {
        const int v = grey.at<uchar>(y, x);
        darkness += (255 - v) / 255.0;
        if (v > 0 && v < 255) ++partial;
    }
    // The sub-pixel centre leaves grey pixels at the ring's edges.
    EXPECT_NEAR(darkness, options.pitch, 0.15);
    EXPECT_GE(partial, 1);
}

// Neighbouring light modules merge into one light area: no hairlines
// between rings or modules, which would read as dark noise.
TEST(CodeDrawer, LightAreasHaveNoSeams)
{
    // The last case is large enough to be painted in several tiles.
    for (const auto& [m, pitch] : {std::pair{16, 9.5}, std::pair{64, 9.5}, std::pair{32, 45.0}}) {
        const DrawnCode code = drawing_test::drawLightCode(m, pitch);
        const auto seams = drawing_test::countSeams(code.image, code.plan);
        EXPECT_GT(seams.inside, 1000);
        EXPECT_EQ(seams.dark, 0) << "M " << m << " pitch " << pitch;
    }
}

TEST(CodeDrawer, BadInputIsRefusedWithAReason)
{
    const std::vector<std::uint8_t> good(2 * 27, 0);
    auto refused = [](auto&& draw) {
        try {
            draw();
        } catch (const OCException& e) {
            return e.code == CodeCannotBeCreated && std::string(e.what()).size() > 0;
        }
        return false;
    };
    EXPECT_TRUE(refused([&] { drawCode(std::vector<std::uint8_t>(53, 0), 32, 2); }));
    EXPECT_TRUE(refused([&] { drawCode(good, 33, 2); }));
    EXPECT_TRUE(refused([&] { drawCode(std::vector<std::uint8_t>(27, 0), 32, 1); }));
    auto two = good;
    two[5] = 2;
    EXPECT_TRUE(refused([&] { drawCode(two, 32, 2); }));
    auto eight = good;
    eight[5] = 8;
    DrawOptions colour;
    colour.codeType = Color;
    EXPECT_TRUE(refused([&] { drawCode(eight, 32, 2, colour); }));
    EXPECT_NO_THROW(drawCode(two, 32, 2, colour));
    DrawOptions tiny;
    tiny.pitch = 1.5;
    EXPECT_TRUE(refused([&] { drawCode(good, 32, 2, tiny); }));
    DrawOptions nan;
    nan.pitch = std::nan("");
    EXPECT_TRUE(refused([&] { drawCode(good, 32, 2, nan); }));
    DrawOptions huge;
    huge.pitch = 1e9;
    EXPECT_TRUE(refused([&] { drawCode(good, 32, 2, huge); }));
    DrawOptions cramped;
    cramped.canvas = {100, 100};
    EXPECT_TRUE(refused([&] { drawCode(good, 32, 2, cramped); }));
}

// The reader finds the hub only when it is large enough for the image; the
// drawer grows it for big images and many rings.
TEST(CodeDrawer, HubGrowsWithTheImage)
{
    const std::vector<std::uint8_t> modules(6 * 27, 0);
    DrawOptions inFrame;
    inFrame.pitch = 8;
    inFrame.canvas = {1280, 720};
    const CodePlan framed = planCode(modules, 32, 6, inFrame);
    EXPECT_GE(framed.geometry.hubRadius * 8, 1.3 * 1000 / 16 - 1e-9);
    EXPECT_LE(framed.geometry.dotRadius() * 8, 0.9 * 1000 / 16);

    for (int r : {2, 6, 11, 16, 24}) {
        const CodePlan own = planCode(std::vector<std::uint8_t>(r * 27, 0), 32, r, {});
        const double side = (own.placement.canvas.width + own.placement.canvas.height) / 2.0;
        const double hub = own.geometry.hubRadius * own.placement.pitch;
        EXPECT_GE(hub, 1.3 * side / 16 - 1e-9) << r;
        EXPECT_LE(hub, 3.5 * side / 8) << r;
        if (r <= 11) {
            EXPECT_EQ(own.geometry.hubRadius, 3.0) << r;
        }
    }
}

} // namespace

#include "orb/drawing/text_code.h"
#include "orb/payload/grid_reader.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_decoder.h"

namespace {

using namespace orb;

// The library's own grid reader, given the drawn geometry, reads exactly the
// modules that were drawn, down to the smallest pitch that is drawn.
TEST(CodeDrawer, GridReaderReadsTheDrawnModules)
{
    std::mt19937 rng(17);
    for (int m : {16, 32, 48, 64})
        for (int r : {2, 5, 12})
            for (bool colour : {false, true}) {
                DrawOptions options;
                options.pitch = 8;
                options.startAngle = 0.7 * r + m;
                options.centreOffset = {0.37, 0.21};
                options.codeType = colour ? Color : BlackAndWhite;
                const auto modules = randomModules(r, m, colour ? 3 : 1, rng);
                const DrawnCode code = drawCode(modules, m, r, options);
                DecoderConfiguration config;
                config.codeType = options.codeType;
                const GridReader reader(config, code.image, m, r);
                const auto read =
                    reader.readModules(code.plan.placement.centre, options.startAngle, code.plan.ringGrid());
                ASSERT_TRUE(read.has_value());
                EXPECT_EQ(*read, modules) << "M " << m << " R " << r << " colour " << colour;
            }
}

// Text in, text out through writer, drawer, grid reader and payload decoder.
TEST(CodeDrawer, TextRoundTripsThroughTheDrawing)
{
    TextCodeOptions text;
    text.modulesPerRing = 48;
    text.layout = Scrambled;
    text.mask = 2;
    DrawOptions options;
    options.codeType = Color;
    options.startAngle = 2.5;
    const DrawnCode code = drawText("Hello, ScanBench!", text, options);
    DecoderConfiguration config;
    config.codeType = Color;
    const GridReader reader(config, code.image, 48, code.plan.geometry.ringCount);
    auto modules = reader.readModules(code.plan.placement.centre, options.startAngle, code.plan.ringGrid());
    ASSERT_TRUE(modules.has_value());
    ASSERT_TRUE(applyMaskAndLayout(*modules, 2, Scrambled, code.plan.geometry.ringCount, 43));
    std::string decoded;
    std::uint8_t dataType = 0, eccType = 0;
    ASSERT_EQ(decodePayload(*modules, 3, decoded, dataType, eccType), Success);
    EXPECT_EQ(decoded, "Hello, ScanBench!");
    EXPECT_EQ(eccType, Medium);
}

TEST(TextCode, FewestRingsAndRefusals)
{
    TextCodeOptions options;
    const TextCode small = writeTextCode("Hi", options, BlackAndWhite);
    EXPECT_GE(small.ringCount, 2);
    const TextCode longer = writeTextCode(std::string(60, 'q'), options, BlackAndWhite);
    EXPECT_GT(longer.ringCount, small.ringCount);
    // Colour carries three bits per module: fewer rings for the same text.
    EXPECT_LT(writeTextCode(std::string(60, 'q'), options, Color).ringCount, longer.ringCount);

    auto code = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const OCException& e) {
            return static_cast<int>(e.code);
        }
        return -1;
    };
    EXPECT_EQ(code([&] { writeTextCode(std::string(300, 'a'), options, BlackAndWhite); }), DataSizeExceedsMaximum);
    TextCodeOptions oneRing = options;
    oneRing.ringCount = 1;
    EXPECT_EQ(code([&] { writeTextCode("Hi", oneRing, BlackAndWhite); }), InvalidConfiguration);
    TextCodeOptions absurd = options;
    absurd.ringCount = 2000000000;
    EXPECT_EQ(code([&] { writeTextCode("Hi", absurd, BlackAndWhite); }), InvalidConfiguration);
    TextCodeOptions badMask = options;
    badMask.mask = 5;
    EXPECT_EQ(code([&] { writeTextCode("Hi", badMask, BlackAndWhite); }), InvalidConfiguration);
    TextCodeOptions digits = options;
    digits.dataType = Digits;
    EXPECT_EQ(code([&] { writeTextCode("abc", digits, BlackAndWhite); }), CodeCannotBeCreated);
}

} // namespace
