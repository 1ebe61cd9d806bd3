#include "orb/decoder.h"

#include <algorithm>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "orb/geometry/inner_circle.h"
#include "orb/geometry/perspective_correction.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"
#include "orb/payload/payload_types.h"

namespace orb {

namespace {

// One pass of inner circle detection and the geometric chain on one orientation.
ResultCode attempt(const DecoderConfiguration& config, const cv::Mat& binary, const cv::Mat& source,
                   std::string& text, std::uint8_t& dataType, std::uint8_t& eccType)
{
    StartMarker startMarker;
    ZebraResult zebra;
    DetectionContext context;
    context.payload = &text;
    context.dataType = &dataType;
    context.eccType = &eccType;
    context.sourceImage = &source;
    context.startMarker = &startMarker;
    context.zebra = &zebra;

    const StageInput input{config, binary};
    cv::RotatedRect circle;
    const ResultCode found = findCircle(input, circle);
    if (found != Success) return found;
    return detectCode(input, context, circle);
}

} // namespace

cv::Mat checkDecoderInput(const DecoderConfiguration& config, const cv::Mat& image)
{
    if (image.empty()) throw OCException(InvalidConfiguration, "the image is empty");
    if (image.depth() != CV_8U)
        throw OCException(InvalidConfiguration, "the image must have 8 bits per channel");
    const int channels = image.channels();
    if (channels != 1 && channels != 3 && channels != 4)
        throw OCException(InvalidConfiguration,
                          "the image must have 1, 3 or 4 channels, not " + std::to_string(channels));
    if (channels == 1 && config.codeType == Color) throw OCException(CodeTypeMismatch, "");
    if (channels == 4) {
        cv::Mat bgr;
        cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
        return bgr;
    }
    return image;
}

cv::Mat normalizeImageSize(const cv::Mat& image)
{
    if (image.cols <= kMaxDecodeWidth) return image;
    // 64-bit so tall images cannot overflow; at least one row so a very flat
    // image still has a size the resize accepts.
    const auto height = static_cast<int>(std::max<std::int64_t>(
        1, static_cast<std::int64_t>(image.rows) * kMaxDecodeWidth / image.cols));
    cv::Mat resized;
    cv::resize(image, resized, cv::Size(kMaxDecodeWidth, height), 0, 0, cv::INTER_LINEAR);
    return resized;
}

std::string decode(const DecoderConfiguration& config, const cv::Mat& image, bool enhance)
{
    cv::Mat working = normalizeImageSize(checkDecoderInput(config, image));
    if (enhance) working = enhanceImage(working, config.codeType);
    cv::Mat binary = binarizeImage(working, config.codeType);

    std::string text;
    std::uint8_t eccType = 0;
    std::uint8_t dataType = 0;

    if (attempt(config, binary, working, text, dataType, eccType) != Success) {
        // The code may have been captured mirrored. The binarised image keeps
        // what the first attempt drew into it.
        cv::Mat mirrored;
        cv::Mat mirroredBinary;
        cv::flip(working, mirrored, 1);
        cv::flip(binary, mirroredBinary, 1);
        const ResultCode code = attempt(config, mirroredBinary, mirrored, text, dataType, eccType);
        if (code != Success) throw OCException(code, "");
        logger().line(LogLevel::Info, "decoded flipped image            : ", eccTypeName(eccType));
    }

    logger().line(LogLevel::Info, "decoded ECC type                 : ", eccTypeName(eccType));
    logger().line(LogLevel::Info, "decoded data type                : ", dataTypeName(dataType));
    logger().line(LogLevel::Info, "decoded payload                  : ", '"', text, '"');
    return text;
}

} // namespace orb
