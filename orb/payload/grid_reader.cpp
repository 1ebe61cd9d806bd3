#include "orb/payload/grid_reader.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/logger.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/module_levels.h"
#include "orb/payload/payload_decoder.h"

namespace orb {

namespace {

constexpr double kMinimumPitch = 5.0;
constexpr int kMaxRandomSamples = 20;
constexpr int kMaskCount = 5;

// Colour value of the lit channels, indexed by red | green << 1 | blue << 2.
constexpr std::uint8_t kColourValue[8] = {
    1, // none: black
    2, // red
    3, // green
    7, // red, green: yellow
    4, // blue
    6, // red, blue: magenta
    5, // green, blue: cyan
    0, // all: white
};

} // namespace

// An offset step in [0, kOffsetSteps], drawn as the standard library's
// uniform distribution over that range draws it from this engine (one
// draw, scaled down; draws past the largest whole multiple of the range are
// thrown away), with the divisions fixed at compile time.
int drawOffsetStep(SampleRandom& random)
{
    constexpr std::uint64_t kEngineRange = SampleRandom::max() - SampleRandom::min();
    constexpr std::uint64_t kRange = kOffsetSteps + 1;
    constexpr std::uint64_t kScaling = kEngineRange / kRange;
    constexpr std::uint64_t kPast = kRange * kScaling;
    std::uint64_t draw = 0;
    do draw = random() - SampleRandom::min();
    while (draw >= kPast);
    return static_cast<int>(draw / kScaling);
}

GridReader::GridReader(const DecoderConfiguration& config, const cv::Mat& warpedImage, int modulesPerRing,
                       int ringCount)
    : codeType(config.codeType), modulesPerRing(modulesPerRing), ringCount(ringCount),
      bitsPerModule(config.codeType == Color ? 3 : 1)
{
    // Sampling reads blue, green and red bytes.
    cv::Mat image = warpedImage;
    if (image.channels() == 1) cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4) cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
    pixels = {image.size(), [image](int x, int y) { return image.at<cv::Vec3b>(y, x); }};
}

GridReader::GridReader(const DecoderConfiguration& config, const CodePixels& warped, int modulesPerRing,
                       int ringCount)
    : codeType(config.codeType), modulesPerRing(modulesPerRing), ringCount(ringCount),
      bitsPerModule(config.codeType == Color ? 3 : 1), pixels(warped)
{
}

std::optional<std::uint8_t> GridReader::sampleModule(cv::Point point, double theta, int tangentialExtent,
                                                     int radialExtent, int samples, SampleRandom& random) const
{
    return sampleModule(point, std::cos(theta), std::sin(theta), tangentialExtent, radialExtent, samples, random);
}

std::optional<std::uint8_t> GridReader::sampleModule(cv::Point point, double cosine, double sine,
                                                     int tangentialExtent, int radialExtent, int samples,
                                                     SampleRandom& random) const
{
    const auto mean = moduleMean(point, cosine, sine, tangentialExtent, radialExtent, samples, random);
    if (!mean) return std::nullopt;
    return moduleValue(*mean);
}

std::optional<cv::Vec3f> GridReader::moduleMean(cv::Point point, double cosine, double sine, int tangentialExtent,
                                                int radialExtent, int samples, SampleRandom& random) const
{
    int sum[3] = {0, 0, 0};
    auto add = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= pixels.size.width || y >= pixels.size.height) return false;
        const cv::Vec3b value = pixels.at(x, y);
        for (int c = 0; c < 3; ++c) sum[c] += value[c];
        return true;
    };
    static const cv::Point cross[5] = {{0, 0}, {0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    for (const cv::Point& offset : cross)
        if (!add(point.x + offset.x, point.y + offset.y)) return std::nullopt;

    for (int i = 0; i < samples; ++i) {
        const int u = drawOffsetStep(random);
        const int v = drawOffsetStep(random);
        const int dr = radialExtent * u / kOffsetSteps - radialExtent / 2;
        const int dt = tangentialExtent * v / kOffsetSteps - tangentialExtent / 2;
        const auto ox = static_cast<int>(roundHalfAway(dr * cosine - dt * sine));
        const auto oy = static_cast<int>(roundHalfAway(dr * sine + dt * cosine));
        if (!add(point.x + ox, point.y - oy)) return std::nullopt;
    }
    const auto count = static_cast<float>(samples + 5);
    return cv::Vec3f(sum[0] / count, sum[1] / count, sum[2] / count);
}

std::uint8_t GridReader::moduleValue(const cv::Vec3f& mean) const
{
    // Halfway between black and white; a mean of sums of whole grey
    // levels sits exactly on it only when the sum does.
    constexpr float kMiddle = 127.5f;
    const bool blue = mean[0] > kMiddle;
    const bool green = mean[1] > kMiddle;
    const bool red = mean[2] > kMiddle;
    if (bitsPerModule == 1) return static_cast<std::uint8_t>(blue + green + red <= 1 ? 1 : 0);
    return kColourValue[red | green << 1 | blue << 2];
}

std::optional<std::vector<std::uint8_t>> GridReader::readModules(cv::Point2d centre, double startAngle,
                                                                 const RingGrid& grid) const
{
    auto samples = readSamples(centre, startAngle, grid);
    if (!samples) return std::nullopt;
    return std::move(samples->values);
}

std::optional<ModuleSamples> GridReader::readSamples(cv::Point2d centre, double startAngle,
                                                     const RingGrid& grid) const
{
    // One ring gives no pitch; fewer than five modules leave no data position.
    if (ringCount < 2 || modulesPerRing < 5) return std::nullopt;
    const double alpha = kTwoPi / modulesPerRing;
    const double pitch = std::max((grid.lastRadius - grid.firstRadius) / (ringCount - 1), kMinimumPitch);
    const int radialExtent = static_cast<int>(pitch) - 4;

    SampleRandom random(kSampleSeed);
    ModuleSamples read;
    const std::size_t count = static_cast<std::size_t>(ringCount) * dataModulesPerRing(modulesPerRing);
    read.values.reserve(count);
    read.means.reserve(count);
    for (int ring = ringCount - 1; ring >= 0; --ring) {
        const double rho = ringRadius(grid.firstRadius, pitch, ring);
        const int tangentialExtent = std::max(static_cast<int>((rho - 0.5 * pitch) * alpha) - 4, 0);
        const int samples = std::min(tangentialExtent % 2 == 0 ? tangentialExtent : tangentialExtent + 1,
                                     kMaxRandomSamples);
        for (int position = kFirstDataPosition; position < modulesPerRing - 2; ++position) {
            const double theta = moduleAngle(startAngle, position, modulesPerRing);
            const double cosine = std::cos(theta);
            const double sine = std::sin(theta);
            const cv::Point point(static_cast<int>(roundHalfAway(centre.x + rho * cosine)),
                                  static_cast<int>(roundHalfAway(centre.y - rho * sine)));
            const auto mean = moduleMean(point, cosine, sine, tangentialExtent, radialExtent, samples, random);
            if (!mean) return std::nullopt;
            read.values.push_back(moduleValue(*mean));
            read.means.push_back(*mean);
        }
    }

    if (logger().accepts(LogLevel::Trace)) {
        logger().beginLine(LogLevel::Trace) << "dec: masked modules: " << "{";
        for (std::uint8_t module : read.values) logger() << (module ? 1 : 0) << ", ";
        logger() << "}";
        logger().endLine();
    }
    return read;
}

namespace {

// The modules in logical order under `layout` and `mask`, or nothing when
// the layout cannot cover the grid.
std::optional<std::vector<std::uint8_t>> logicalModules(std::vector<std::uint8_t> modules, int mask,
                                                        std::int32_t layout, int ringCount, int perRing)
{
    if (!applyMaskAndLayout(modules, mask, layout, ringCount, perRing)) return std::nullopt;
    return modules;
}

// How sure each module is, in the logical order of `layout`.
std::vector<float> logicalCertainty(const std::vector<float>& certainty, std::int32_t layout, int ringCount,
                                    int perRing)
{
    std::vector<int> positions;
    if (!layoutPositions(layout, ringCount, perRing, positions)) return {};
    std::vector<float> logical(positions.size());
    for (std::size_t p = 0; p < positions.size(); ++p) logical[p] = certainty[positions[p]];
    return logical;
}

// The modules read once, then decoded under each layout and mask in turn:
// first as read at the fixed threshold, as every code that reads at all
// reads; only when none decodes, against each module's local levels with
// the least sure modules as erasures.
Found<GridReading> readGrid(const GridReader& reader, double startAngle, const RingGrid& grid,
                            const std::vector<std::int32_t>& layouts, Corrections corrections)
{
    const int M = reader.modulesPerRing;
    const int perRing = dataModulesPerRing(M);
    // A grid that leaves the image (or has a single ring) is a wrong geometry
    // guess: report it so the remaining corrections and the mirrored attempt
    // still get their turn.
    const cv::Point2d centre(reader.pixels.size.width * 0.5, reader.pixels.size.height * 0.5);
    const auto samples = reader.readSamples(centre, startAngle, grid);
    if (!samples) return {WrongGrid, {}};

    ResultCode rc = WrongGrid;
    for (const std::int32_t layout : layouts) {
        for (int mask = 0; mask < kMaskCount; ++mask) {
            const auto stream = logicalModules(samples->values, mask, layout, grid.ringCount, perRing);
            if (!stream) {
                rc = InvalidConfiguration;
                continue;
            }
            GridReading reading;
            reading.layout = layout;
            rc = decodePayload(*stream, reader.bitsPerModule, reading.text, reading.dataType, reading.eccType,
                               &reading.correctedErrors, corrections);
            if (rc == Success) return {Success, std::move(reading)};
        }
    }

    const LevelReading levels = readByLocalLevels(samples->means, grid.ringCount, perRing, reader.bitsPerModule);
    for (const std::int32_t layout : layouts) {
        const std::vector<float> certainty = logicalCertainty(levels.certainty, layout, grid.ringCount, perRing);
        for (int mask = 0; mask < kMaskCount; ++mask) {
            const auto stream = logicalModules(levels.values, mask, layout, grid.ringCount, perRing);
            if (!stream) continue;
            Found<PayloadRead> read = decodePayloadWithErasures(*stream, certainty, reader.bitsPerModule, corrections);
            if (!read) continue;
            GridReading reading;
            reading.text = std::move(read.value.text);
            reading.dataType = read.value.dataType;
            reading.eccType = read.value.eccType;
            reading.layout = layout;
            reading.correctedErrors = read.value.correctedErrors;
            reading.erasures = read.value.erasures;
            return {Success, std::move(reading)};
        }
    }
    return {rc, {}};
}

} // namespace

Found<GridReading> readGridData(const StageInput& warped, int modulesPerRing, double startAngle, const RingGrid& grid,
                                const std::vector<std::int32_t>& layouts, Corrections corrections)
{
    logger().line(LogLevel::Debug, "         readGridData");
    return readGrid(GridReader(warped.config, warped.image, modulesPerRing, grid.ringCount), startAngle, grid,
                    layouts, corrections);
}

Found<GridReading> readGridData(const DecoderConfiguration& config, const CodePixels& warped, int modulesPerRing,
                                double startAngle, const RingGrid& grid, const std::vector<std::int32_t>& layouts,
                                Corrections corrections)
{
    logger().line(LogLevel::Debug, "         readGridData");
    return readGrid(GridReader(config, warped, modulesPerRing, grid.ringCount), startAngle, grid, layouts,
                    corrections);
}

} // namespace orb
