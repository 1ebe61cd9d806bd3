#pragma once
// Inner circle detection: the white hub around the code centre.
#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/result_code.h"

namespace orb {

// Finds the inner circle in the binarised image: the rotated rectangle
// around the ellipse the hub appears as. It paints the hub's black centre
// dot white in `binary` (shared pixels are written), so that later stages
// see the hub whole. `rimLoss`
// lowers the smallest hub radius accepted by that many pixels, for an
// image reduced in size, where binarisation takes a larger share of a
// hub's rim.
Found<cv::RotatedRect> findCircle(cv::Mat& binary, const DecoderConfiguration& config, double rimLoss = 0);

} // namespace orb
