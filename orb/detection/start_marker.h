#pragma once
// Start marker: the radial bar that fixes the angular origin.
#include "orb/detection/start_marker_types.h"
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

ResultCode detectStartMarker(const StageInput& input, const DetectionContext& context, double R);

} // namespace orb
