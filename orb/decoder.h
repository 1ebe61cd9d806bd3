#pragma once
// The code library's front door.
#include <string>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

// Decodes the one code in an 8-bit image (gray, BGR or BGRA) and returns its
// text. Every failure is thrown as OCException.
std::string decode(const DecoderConfiguration& config, const cv::Mat& image, bool enhance);

} // namespace orb
