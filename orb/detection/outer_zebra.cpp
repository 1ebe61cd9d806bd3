#include "orb/detection/outer_zebra.h"

namespace orb {

// Placeholder until the outer zebra stage lands.
ResultCode detectOuterZebra(const StageInput&, const DetectionContext&, const StartMarkerCandidate&) { return WrongOuterZebraModuleCount; }

} // namespace orb
