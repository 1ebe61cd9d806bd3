#include "orb/detection/inner_zebra.h"

namespace orb {

// Placeholder until the inner zebra stage lands.
ResultCode detectInnerZebra(const StageInput&, const DetectionContext&, double) { return PerspectiveMarkersNotDetected; }

} // namespace orb
