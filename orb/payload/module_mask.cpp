#include "orb/payload/module_mask.h"

namespace orb {

void applyMask(std::vector<std::uint8_t>& modules, int maskIndex)
{
    const MaskPattern pattern = maskPatterns[maskIndex];
    for (std::size_t k = 0; k < modules.size(); ++k) {
        const bool byA = k % pattern.a == 0;
        const bool byB = k % pattern.b == 0;
        if (byA != byB) modules[k] ^= 1;
    }
}

} // namespace orb
