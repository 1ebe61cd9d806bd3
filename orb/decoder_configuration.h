#pragma once
#include <cstdint>

#include <opencv2/core.hpp>

namespace orb {

enum CodeType : std::int32_t { BlackAndWhite = 0, Color = 1 };

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
