#pragma once
// Grid reading: samples the data modules of the warped code image and hands
// them, under each mask, to the payload decoder.
#include "orb/detection_context.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

// `warped.image` is the three-channel image from finalTransform, code centred.
ResultCode readGridData(const StageInput& warped, const DetectionContext& context, const RingGrid& grid);

} // namespace orb
