#include "orb/payload/grid_reader.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/logger.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
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

    const int threshold = (samples + 5) * 255 / 2;
    const bool blue = sum[0] > threshold;
    const bool green = sum[1] > threshold;
    const bool red = sum[2] > threshold;
    if (bitsPerModule == 1) return static_cast<std::uint8_t>(blue + green + red <= 1 ? 1 : 0);
    return kColourValue[red | green << 1 | blue << 2];
}

std::optional<std::vector<std::uint8_t>> GridReader::readModules(cv::Point2d centre, double startAngle,
                                                                 const RingGrid& grid) const
{
    // One ring gives no pitch; fewer than five modules leave no data position.
    if (ringCount < 2 || modulesPerRing < 5) return std::nullopt;
    const double alpha = kTwoPi / modulesPerRing;
    const double pitch = std::max((grid.lastRadius - grid.firstRadius) / (ringCount - 1), kMinimumPitch);
    const int radialExtent = static_cast<int>(pitch) - 4;

    SampleRandom random(kSampleSeed);
    std::vector<std::uint8_t> modules;
    modules.reserve(static_cast<std::size_t>(ringCount) * dataModulesPerRing(modulesPerRing));
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
            const auto value = sampleModule(point, cosine, sine, tangentialExtent, radialExtent, samples, random);
            if (!value) return std::nullopt;
            modules.push_back(*value);
        }
    }

    if (logger().accepts(LogLevel::Trace)) {
        logger().beginLine(LogLevel::Trace) << "dec: masked modules: " << "{";
        for (std::uint8_t module : modules) logger() << (module ? 1 : 0) << ", ";
        logger() << "}";
        logger().endLine();
    }
    return modules;
}

namespace {

// The modules read once, then decoded under each layout and mask in turn.
Found<GridReading> readGrid(const GridReader& reader, double startAngle, const RingGrid& grid,
                            const std::vector<std::int32_t>& layouts)
{
    const int M = reader.modulesPerRing;
    // A grid that leaves the image (or has a single ring) is a wrong geometry
    // guess: report it so the remaining corrections and the mirrored attempt
    // still get their turn.
    const cv::Point2d centre(reader.pixels.size.width * 0.5, reader.pixels.size.height * 0.5);
    const auto modules = reader.readModules(centre, startAngle, grid);
    if (!modules) return {WrongGrid, {}};

    ResultCode rc = WrongGrid;
    for (const std::int32_t layout : layouts) {
        for (int mask = 0; mask < kMaskCount; ++mask) {
            std::vector<std::uint8_t> stream = *modules;
            if (!applyMaskAndLayout(stream, mask, layout, grid.ringCount, dataModulesPerRing(M))) {
                rc = InvalidConfiguration;
                continue;
            }
            GridReading reading;
            reading.layout = layout;
            rc = decodePayload(stream, reader.bitsPerModule, reading.text, reading.dataType, reading.eccType,
                               &reading.correctedErrors);
            if (rc == Success) return {Success, std::move(reading)};
        }
    }
    return {rc, {}};
}

} // namespace

Found<GridReading> readGridData(const StageInput& warped, int modulesPerRing, double startAngle, const RingGrid& grid,
                                const std::vector<std::int32_t>& layouts)
{
    logger().line(LogLevel::Debug, "         readGridData");
    return readGrid(GridReader(warped.config, warped.image, modulesPerRing, grid.ringCount), startAngle, grid,
                    layouts);
}

Found<GridReading> readGridData(const DecoderConfiguration& config, const CodePixels& warped, int modulesPerRing,
                                double startAngle, const RingGrid& grid, const std::vector<std::int32_t>& layouts)
{
    logger().line(LogLevel::Debug, "         readGridData");
    return readGrid(GridReader(config, warped, modulesPerRing, grid.ringCount), startAngle, grid, layouts);
}

} // namespace orb
