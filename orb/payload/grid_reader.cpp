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

// Sample offsets are drawn in 1/32767 steps of a module's extent.
constexpr int kOffsetSteps = 32767;

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

GridReader::GridReader(const DecoderConfiguration& config, const cv::Mat& warpedImage, int modulesPerRing,
                       int ringCount)
    : codeType(config.codeType), modulesPerRing(modulesPerRing), ringCount(ringCount),
      bitsPerModule(config.codeType == Color ? 3 : 1), image(warpedImage)
{
    // Sampling reads blue, green and red bytes.
    if (image.channels() == 1) cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    else if (image.channels() == 4) cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
}

std::optional<std::uint8_t> GridReader::sampleModule(cv::Point point, double theta, int tangentialExtent,
                                                     int radialExtent, int samples, SampleRandom& random) const
{
    int sum[3] = {0, 0, 0};
    auto add = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= image.cols || y >= image.rows) return false;
        const cv::Vec3b& pixel = image.at<cv::Vec3b>(y, x);
        for (int c = 0; c < 3; ++c) sum[c] += pixel[c];
        return true;
    };
    static const cv::Point cross[5] = {{0, 0}, {0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    for (const cv::Point& offset : cross)
        if (!add(point.x + offset.x, point.y + offset.y)) return std::nullopt;

    const double cosine = std::cos(theta);
    const double sine = std::sin(theta);
    std::uniform_int_distribution<int> step(0, kOffsetSteps);
    for (int i = 0; i < samples; ++i) {
        const int u = step(random);
        const int v = step(random);
        const int dr = radialExtent * u / kOffsetSteps - radialExtent / 2;
        const int dt = tangentialExtent * v / kOffsetSteps - tangentialExtent / 2;
        const int ox = static_cast<int>(std::lround(dr * cosine - dt * sine));
        const int oy = static_cast<int>(std::lround(dr * sine + dt * cosine));
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
            const cv::Point point(static_cast<int>(std::lround(centre.x + rho * std::cos(theta))),
                                  static_cast<int>(std::lround(centre.y - rho * std::sin(theta))));
            const auto value = sampleModule(point, theta, tangentialExtent, radialExtent, samples, random);
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

Found<GridReading> readGridData(const StageInput& warped, int modulesPerRing, double startAngle, const RingGrid& grid,
                                const std::vector<std::int32_t>& layouts)
{
    logger().line(LogLevel::Debug, "         readGridData");
    const int M = modulesPerRing;
    const GridReader reader(warped.config, warped.image, M, grid.ringCount);
    // A grid that leaves the image (or has a single ring) is a wrong geometry
    // guess: report it so the remaining corrections and the mirrored attempt
    // still get their turn.
    const auto modules = reader.readModules(imageCentre(warped.image), startAngle, grid);
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
            rc = decodePayload(stream, reader.bitsPerModule, reading.text, reading.dataType, reading.eccType);
            if (rc == Success) return {Success, std::move(reading)};
        }
    }
    return {rc, {}};
}

} // namespace orb
