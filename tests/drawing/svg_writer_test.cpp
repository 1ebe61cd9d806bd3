#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "drawing/module_sampling.h"
#include "orb/drawing/code_drawer.h"
#include "orb/drawing/svg_writer.h"

namespace {

using namespace orb;

bool haveRsvg() { return std::system("command -v rsvg-convert > /dev/null 2>&1") == 0; }

// Renders the vector drawing with an independent renderer and compares it
// with the raster drawing of the same plan: they may differ only where
// edges are anti-aliased differently.
cv::Mat renderSvg(const std::string& svg, const std::string& name)
{
    const std::string dir = std::string(ORB_BINARY_DIR) + "/tests/";
    const std::string svgPath = dir + name + ".svg";
    const std::string pngPath = dir + name + ".png";
    std::ofstream(svgPath) << svg;
    const std::string command = "rsvg-convert -b white -o '" + pngPath + "' '" + svgPath + "'";
    if (std::system(command.c_str()) != 0) return {};
    cv::Mat image = cv::imread(pngPath, cv::IMREAD_COLOR);
    std::remove(svgPath.c_str());
    std::remove(pngPath.c_str());
    return image;
}

double shareDifferingBy(const cv::Mat& a, const cv::Mat& b, int limit)
{
    cv::Mat diff, worst;
    cv::absdiff(a, b, diff);
    cv::Mat channels[3];
    cv::split(diff, channels);
    cv::max(channels[0], channels[1], worst);
    cv::max(worst, channels[2], worst);
    return cv::countNonZero(worst > limit) / static_cast<double>(worst.total());
}

TEST(SvgWriter, RenderedSvgMatchesTheRasterDrawing)
{
    if (!haveRsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
    std::mt19937 rng(3);
    struct Case {
        int m, r;
        double pitch;
        bool colour;
    };
    for (const Case& c : {Case{16, 2, 8.0, false}, Case{32, 6, 11.5, true}, Case{64, 12, 9.0, false},
                          Case{48, 5, 21.0, true}, Case{64, 12, 8.0, true}}) {
        const int bits = c.colour ? 3 : 1;
        std::vector<std::uint8_t> modules(c.r * dataModulesPerRing(c.m));
        for (auto& v : modules) v = static_cast<std::uint8_t>(rng() % (1u << bits));
        DrawOptions options;
        options.pitch = c.pitch;
        options.startAngle = 0.1 + c.m;
        options.centreOffset = {0.37, -0.21};
        options.codeType = c.colour ? Color : BlackAndWhite;
        const DrawnCode code = drawCode(modules, c.m, c.r, options);
        const cv::Mat vector = renderSvg(codeSvg(code.plan), "svg_writer_" + std::to_string(c.m));
        ASSERT_FALSE(vector.empty()) << "rsvg-convert failed";
        ASSERT_EQ(vector.size(), code.image.size());
        EXPECT_LT(shareDifferingBy(vector, code.image, 64), 0.01) << "M " << c.m << " R " << c.r;
        // And the two are the same picture, not merely similar in places.
        EXPECT_LT(shareDifferingBy(vector, code.image, 160), 0.001) << "M " << c.m << " R " << c.r;
    }
}

// Vector renderers anti-alias each path on its own; light modules that meet
// must still render as one light area, without hairlines between them.
TEST(SvgWriter, RenderedLightAreasHaveNoSeams)
{
    if (!haveRsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
    for (const auto& [m, pitch] : {std::pair{16, 9.5}, std::pair{64, 30.0}}) {
        const DrawnCode code = drawing_test::drawLightCode(m, pitch);
        const cv::Mat vector = renderSvg(codeSvg(code.plan), "svg_seams_" + std::to_string(m));
        ASSERT_FALSE(vector.empty()) << "rsvg-convert failed";
        const auto seams = drawing_test::countSeams(vector, code.plan);
        EXPECT_GT(seams.inside, 1000);
        EXPECT_EQ(seams.dark, 0) << "M " << m << " pitch " << pitch;
    }
}

} // namespace
