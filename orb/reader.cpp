#include "orb/reader.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/payload/module_geometry.h"
#include "orb/pipeline.h"

namespace orb {

namespace {

constexpr int kOutlinePoints = 32;

// The default layout first: a code in it costs no more than a single-layout read.
const std::vector<std::int32_t> kEveryLayout = {HorizontalSnakeSmall, Horizontal, Vertical,
                                                 VerticalSnake, HorizontalSnakeLarge, Scrambled};

std::vector<CodeType> codeTypesToTry(CodeTypes choice, const cv::Mat& image)
{
    std::vector<CodeType> types;
    if (choice != CodeTypes::Color) types.push_back(BlackAndWhite);
    if (choice != CodeTypes::BlackAndWhite && image.channels() != 1) types.push_back(Color);
    return types;
}

// Maps a point of the warped image back into the caller's image: through
// the inverse homography into the working image, out of the mirror, and up
// from the reduced working size (pixel centres as the resize placed them).
cv::Point2f toImage(const cv::Point2d& warped, const cv::Matx33d& inverse, const PipelineReading& reading,
                    const cv::Size& imageSize)
{
    const cv::Vec3d h = inverse * cv::Vec3d(warped.x, warped.y, 1.0);
    double x = h[0] / h[2];
    const double y = h[1] / h[2];
    const cv::Size working = reading.workingSize;
    if (reading.mirrored) x = working.width - 1 - x;
    const double sx = static_cast<double>(imageSize.width) / working.width;
    const double sy = static_cast<double>(imageSize.height) / working.height;
    return {static_cast<float>((x + 0.5) * sx - 0.5), static_cast<float>((y + 0.5) * sy - 0.5)};
}

CodePosition locate(const PipelineReading& reading, const cv::Size& imageSize)
{
    const cv::Matx33d inverse = reading.homography.inv();
    const cv::Point2d centre(reading.workingSize.width * 0.5, reading.workingSize.height * 0.5);
    const RingGrid& grid = reading.grid;
    // The outer zebra's outer edge lies a ring and a half beyond the middle
    // of the outermost data ring.
    const double pitch = grid.ringCount > 1 ? (grid.lastRadius - grid.firstRadius) / (grid.ringCount - 1) : 0;
    const double outerRadius = grid.lastRadius + 1.5 * pitch;

    CodePosition position;
    position.centre = toImage(centre, inverse, reading, imageSize);
    for (int k = 0; k < kOutlinePoints; ++k) {
        const double angle = reading.startMarker.angle + k * kTwoPi / kOutlinePoints;
        const cv::Point2d point = centre + outerRadius * cv::Point2d(std::cos(angle), -std::sin(angle));
        position.outline.push_back(toImage(point, inverse, reading, imageSize));
    }
    // Mirroring reverses the turn; keep the outline counter-clockwise on screen.
    if (reading.mirrored) std::reverse(position.outline.begin() + 1, position.outline.end());
    position.outerRing = cv::fitEllipse(position.outline);
    return position;
}

} // namespace

ReadResult readCode(const cv::Mat& image, const ReaderOptions& options)
{
    DecoderConfiguration config;
    checkDecoderInput(config, image); // throws for input no code type can take

    ReadResult result;
    if (options.layout != kAnyLayout && (options.layout < Horizontal || options.layout > Scrambled)) {
        result.error = InvalidConfiguration;
        return result;
    }
    const std::vector<CodeType> types = codeTypesToTry(options.codeTypes, image);
    if (types.empty()) {
        result.error = CodeTypeMismatch;
        return result;
    }

    PipelineOptions pipeline;
    pipeline.layouts = options.layout == kAnyLayout ? kEveryLayout : std::vector<std::int32_t>{options.layout};
    pipeline.tryMirrored = options.tryMirrored;
    pipeline.enhance = options.enhance;
    pipeline.maxWorkingWidth = options.maxWorkingWidth;

    for (const CodeType type : types) {
        config.codeType = type;
        const PipelineReading reading = runPipeline(config, image, pipeline);
        result.error = reading.code;
        if (reading.code != Success) continue;

        logDecodedCode(reading);
        const GridReading& payload = reading.payload;
        result.bytes.assign(payload.text.begin(), payload.text.end());
        result.dataType = static_cast<DataType>(payload.dataType);
        result.eccType = static_cast<EccType>(payload.eccType);
        result.layout = static_cast<ModuleLayout>(payload.layout);
        result.codeType = type;
        result.modulesPerRing = reading.modulesPerRing;
        result.ringCount = reading.grid.ringCount;
        result.mirrored = reading.mirrored;
        result.position = locate(reading, image.size());
        return result;
    }
    return result;
}

} // namespace orb
