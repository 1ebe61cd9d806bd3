#pragma once
// Inner circle detection: the white hub around the code centre.
#include <opencv2/core.hpp>

#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

// Finds the inner circle in the binarised image (and draws into it).
// `circle` is valid only with Success.
ResultCode findCircle(const StageInput& input, cv::RotatedRect& circle);

} // namespace orb
