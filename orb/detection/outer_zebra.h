#pragma once
// Outer angular zebra: the outermost ring of alternating modules.
#include "orb/detection_context.h"
#include "orb/result_code.h"

namespace orb {

ResultCode detectOuterZebra(const StageInput& input, const DetectionContext& context,
                            const StartMarkerCandidate& candidate);

} // namespace orb
