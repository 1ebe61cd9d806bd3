#include "orb/decoder.h"

#include "orb/logger.h"
#include "orb/payload/payload_types.h"

namespace orb {

void logDecodedCode(const PipelineReading& reading)
{
    const GridReading& payload = reading.payload;
    if (reading.mirrored)
        logger().line(LogLevel::Info, "decoded flipped image            : ", eccTypeName(payload.eccType));
    logger().line(LogLevel::Info, "decoded ECC type                 : ", eccTypeName(payload.eccType));
    logger().line(LogLevel::Info, "decoded data type                : ", dataTypeName(payload.dataType));
    logger().line(LogLevel::Info, "decoded payload                  : ", '"', payload.text, '"');
}

std::string decode(const DecoderConfiguration& config, const cv::Mat& image, bool enhance)
{
    PipelineOptions options;
    options.enhance = enhance;
    PipelineReading reading = runPipeline(config, image, options);
    if (reading.code != Success) throw OCException(reading.code, "");
    logDecodedCode(reading);
    return std::move(reading.payload.text);
}

} // namespace orb
