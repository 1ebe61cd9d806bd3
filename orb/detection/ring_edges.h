#pragma once
// Ring grid from the edges between the data rings themselves: where a stain
// or a finger hides the radial zebra, the other positions still show where
// one ring ends and the next begins.
#include "orb/detection/radial_zebra.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

// The ring grid whose ring boundaries the radial colour changes along the
// data positions (radial zebra included) agree with best, between the
// search's inner edge and the outer zebra's outer edge, which is one pitch
// past the last data ring. RadialZebraNotDetected when no ring count is
// clearly borne out.
Found<RingGrid> ringGridFromModuleEdges(const RadialZebraSearch& search, int modulesPerRing);

} // namespace orb
