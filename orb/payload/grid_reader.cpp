#include "orb/payload/grid_reader.h"

namespace orb {

// Placeholder until grid reading lands.
ResultCode readGridData(const StageInput&, const DetectionContext&, const RingGrid&) { return WrongGrid; }

} // namespace orb
