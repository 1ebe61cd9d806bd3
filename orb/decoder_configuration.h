#pragma once
#include <cstdint>

#include <opencv2/core.hpp>

#include "orb/types.h"

namespace orb {

// The code types as the configuration stores them (CodeType's numbers).
inline constexpr std::int32_t BlackAndWhite = static_cast<std::int32_t>(CodeType::BlackAndWhite);
inline constexpr std::int32_t Color = static_cast<std::int32_t>(CodeType::Color);

// Settings of one decode. Polymorphic so that a caller can tune the inner
// circle search through the one virtual.
struct DecoderConfiguration {
    virtual ~DecoderConfiguration() = default;
    // Minimum distance between blob centres of the inner circle search.
    virtual std::int32_t minDistanceBetweenBlobs() const { return 35; }

    std::int32_t codeType = BlackAndWhite;
    std::int32_t layout = 4; // ModuleLayout HorizontalSnakeSmall
};

// The pair a stage works on: the configuration and the current working
// image (binarised, one channel, 0 black and 255 white, for the detection
// stages; the warped colour image for grid reading).
struct StageInput {
    const DecoderConfiguration& config;
    cv::Mat image;
};

} // namespace orb
