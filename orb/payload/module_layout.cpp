#include "orb/payload/module_layout.h"

namespace orb {

// Placeholder until the layouts land.
bool applyMaskAndLayout(std::vector<std::uint8_t>&, int, std::int32_t, int, int) { return false; }

} // namespace orb
