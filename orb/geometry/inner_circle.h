#pragma once
// Inner circle detection: the white hub around the code centre.
#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/result_code.h"

namespace orb {

// Finds the inner circle in the binarised image (and draws into it): the
// rotated rectangle around the ellipse the hub appears as. `rimLoss`
// lowers the smallest hub radius accepted by that many pixels, for an
// image reduced in size, where binarisation takes a larger share of a
// hub's rim.
Found<cv::RotatedRect> findCircle(const StageInput& input, double rimLoss = 0);

} // namespace orb
