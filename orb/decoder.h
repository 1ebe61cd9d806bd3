#pragma once
// The code library's front door.
#include <string>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

// Widest image the decoder works on; wider ones are scaled down first.
inline constexpr int kMaxDecodeWidth = 1280;

// Decodes the one code in an 8-bit image (gray, BGR or BGRA) and returns its
// text. Every failure is thrown as OCException.
std::string decode(const DecoderConfiguration& config, const cv::Mat& image, bool enhance);

// Checks that `image` can be decoded with `config` and returns it as gray or
// BGR (alpha dropped). Throws InvalidConfiguration for images it cannot take
// and CodeTypeMismatch for a gray image with a colour code type.
cv::Mat checkDecoderInput(const DecoderConfiguration& config, const cv::Mat& image);

// The image itself (shared) when it is at most kMaxDecodeWidth columns wide,
// otherwise a bilinear reduction to that width with the height scaled to match.
cv::Mat normalizeImageSize(const cv::Mat& image);

} // namespace orb
