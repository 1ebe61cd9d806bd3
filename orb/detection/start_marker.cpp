#include "orb/detection/start_marker.h"

namespace orb {

// Placeholder until the start marker stage lands.
ResultCode detectStartMarker(const StageInput&, const DetectionContext&, double) { return StartMarkerNotDetected; }

} // namespace orb
