#pragma once
// The decode entry of the console program: one code, its text, failures
// thrown. Library users read codes through orb/reader.h instead.
#include <string>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/pipeline.h"
#include "orb/result_code.h"

namespace orb {

// Decodes the one code in an 8-bit image (gray, BGR or BGRA) and returns its
// text. Every failure is thrown as OCException.
std::string decode(const DecoderConfiguration& config, const cv::Mat& image, bool enhance);

// Logs what a successful read found, as the decode entry always has.
void logDecodedCode(const PipelineReading& reading);

} // namespace orb
