#pragma once
// Inner zebra: the features around the inner circle, which fix the module
// count per ring and serve as the first perspective markers.
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

ResultCode detectInnerZebra(const StageInput& input, const DetectionContext& context, double R);

} // namespace orb
