#pragma once
// Assigns measured zebra angles to equally spaced slots around the centre.
// Shared by the inner zebra and the outer angular zebra.
#include <vector>

namespace orb {

struct SlotEntry {
    double angle = 0;
    int slot = 0;
    bool interpolated = false; // no measured angle matched; the slot angle was computed
};

// `angles`: all measured angles; `chosen`: indices of the evenly spaced
// subset that anchors the slots; `slotCount`: number of slots N. With `fill`
// set, slots that no measured angle matches get a computed angle.
std::vector<SlotEntry> assignSlots(const std::vector<double>& angles, const std::vector<int>& chosen, int slotCount,
                                   bool fill);

} // namespace orb
