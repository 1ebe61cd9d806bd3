#pragma once
// Grid reading: samples the data modules of the warped code image and hands
// them, under each mask, to the payload decoder.
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/payload/payload_decoder.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

// An image of `size` read pixel by pixel: blue, green, red at a point
// inside it. The final transform's ring is warped only where it is sampled.
struct CodePixels {
    cv::Size size;
    std::function<cv::Vec3b(int x, int y)> at;
};

// What a read grid carried.
struct GridReading {
    std::string text;
    std::uint8_t dataType = 0;
    std::uint8_t eccType = 0;
    std::int32_t layout = 0;   // the module layout that read
    // Codeword bytes the Reed-Solomon correction changed, and how many of
    // them it was told were unsure (erasures).
    std::int32_t correctedErrors = 0;
    std::int32_t erasures = 0;
};

// `warped.image` is the three-channel image from the final transform, code
// centred, start marker at `startAngle`. The modules are sampled once and
// read under each of `layouts` in turn, each with the five masks; the first
// that decodes wins. Only when none does are they read again, against the
// local black and white levels, with the least sure modules as erasures. A grid that reaches outside the image yields WrongGrid,
// as does a single ring, whose pitch is unknown.
Found<GridReading> readGridData(const StageInput& warped, int modulesPerRing, double startAngle, const RingGrid& grid,
                                const std::vector<std::int32_t>& layouts,
                                Corrections corrections = Corrections::Checked);
// The same on an image whose pixels are made as they are read.
Found<GridReading> readGridData(const DecoderConfiguration& config, const CodePixels& warped, int modulesPerRing,
                                double startAngle, const RingGrid& grid, const std::vector<std::int32_t>& layouts,
                                Corrections corrections = Corrections::Checked);

// Draws the random sample offsets inside a module. Each read makes its own,
// seeded the same way, so that the same image always reads the same and
// reads on several threads do not share one.
using SampleRandom = std::minstd_rand;
inline constexpr SampleRandom::result_type kSampleSeed = 20261208;
// Sample offsets are drawn in 1/kOffsetSteps steps of a module's extent.
inline constexpr int kOffsetSteps = 32767;
// One offset step in [0, kOffsetSteps].
int drawOffsetStep(SampleRandom& random);

// The data modules of a grid as sampled: the value each reads at the fixed
// threshold, and its mean blue, green and red, both in physical order.
struct ModuleSamples {
    std::vector<std::uint8_t> values;
    std::vector<cv::Vec3f> means;
};

// Samples the modules of one warped code image.
struct GridReader {
    GridReader(const DecoderConfiguration& config, const cv::Mat& warpedImage, int modulesPerRing, int ringCount);
    GridReader(const DecoderConfiguration& config, const CodePixels& warped, int modulesPerRing, int ringCount);

    // The data modules in physical order, outermost ring first, each ring
    // clockwise from the first data position; nothing when a sample falls
    // outside the image or the grid has fewer than two rings.
    std::optional<std::vector<std::uint8_t>> readModules(cv::Point2d centre, double startAngle,
                                                         const RingGrid& grid) const;
    // The same modules with their mean colours.
    std::optional<ModuleSamples> readSamples(cv::Point2d centre, double startAngle, const RingGrid& grid) const;

    // One module around `point`: its five-pixel cross plus `samples` random
    // pixels within half the tangential and radial extents, drawn from
    // `random`. Black-and-white modules read 1 for dark; colour modules 0
    // (white) to 7. Nothing when a pixel falls outside the image.
    std::optional<std::uint8_t> sampleModule(cv::Point point, double theta, int tangentialExtent,
                                             int radialExtent, int samples, SampleRandom& random) const;

    std::int32_t codeType;
    std::int32_t modulesPerRing;
    std::int32_t ringCount;
    std::int32_t bitsPerModule;
    CodePixels pixels;

private:
    std::optional<std::uint8_t> sampleModule(cv::Point point, double cosine, double sine, int tangentialExtent,
                                             int radialExtent, int samples, SampleRandom& random) const;
    std::optional<cv::Vec3f> moduleMean(cv::Point point, double cosine, double sine, int tangentialExtent,
                                        int radialExtent, int samples, SampleRandom& random) const;
    std::uint8_t moduleValue(const cv::Vec3f& mean) const;
};

} // namespace orb
