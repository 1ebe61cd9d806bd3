#include "orb/detection/slot_assignment.h"

#include <algorithm>
#include <cmath>

#include "orb/payload/module_geometry.h"

namespace orb {

namespace {

constexpr double kEmpty = 1000; // marks an empty slot; no angle comes near it

bool within(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance * std::max(std::abs(a), std::abs(b));
}

// Index of a measured angle within 3 % of `expected` among angles[from, to), or -1.
int findNear(const std::vector<double>& angles, double expected, std::size_t from, std::size_t to)
{
    for (std::size_t j = from; j < to && j < angles.size(); ++j) {
        if (within(expected, angles[j], 0.03)) return static_cast<int>(j);
    }
    return -1;
}

} // namespace

std::vector<SlotEntry> assignSlots(const std::vector<double>& angles, const std::vector<int>& chosen, int slotCount,
                                   bool fill)
{
    std::vector<SlotEntry> entries;
    if (slotCount <= 0) return entries;
    const int n = slotCount;

    double base = kEmpty;
    for (int index : chosen) base = std::min(base, angles[index]);
    std::vector<double> table(n, kEmpty);
    std::vector<bool> interpolated(n, false);
    const double slotAngle = kTwoPi / n;

    // Anchor the chosen angles; measured angles between two anchors that sit
    // where an evenly spaced slot would be fill the slots in between.
    int lastSlot = -1;
    int lastIndex = 0;
    for (int index : chosen) {
        const int slot = ((static_cast<int>(std::lround((angles[index] - base) / slotAngle)) % n) + n) % n;
        if (table[slot] != kEmpty) continue;
        table[slot] = angles[index];
        if (lastSlot != -1 && lastSlot < slot - 1) {
            const double step = (table[slot] - table[lastSlot]) / (slot - lastSlot);
            double expected = table[lastSlot] + step;
            for (int i = lastSlot + 1; i < slot; ++i, expected += step) {
                const int found = findNear(angles, expected, static_cast<std::size_t>(lastIndex) + 1,
                                           static_cast<std::size_t>(index));
                if (found >= 0) {
                    table[i] = angles[found];
                    lastIndex = found;
                }
            }
        }
        lastSlot = slot;
        lastIndex = index;
    }

    // Close the remaining gaps between filled slots, across the wrap too.
    std::vector<int> filled;
    for (int s = 0; s < n; ++s) {
        if (table[s] != kEmpty) filled.push_back(s);
    }
    const std::vector<double> anchors = table;
    for (std::size_t f = 0; f < filled.size(); ++f) {
        const int previous = f == 0 ? filled.back() : filled[f - 1];
        const int current = filled[f];
        const int steps = current > previous ? current - previous : current + n - previous;
        if (steps <= 1) continue;
        double span = anchors[current] - anchors[previous];
        if (!(anchors[current] > anchors[previous])) span += kTwoPi;
        const double step = span / steps;
        double expected = anchors[previous];
        for (int k = 1; k < steps; ++k) {
            const int slot = (previous + k) % n;
            expected += step;
            if (expected > kTwoPi) expected -= kTwoPi;
            const int found = findNear(angles, expected, 0, angles.size());
            if (found >= 0) {
                table[slot] = angles[found];
            } else if (fill) {
                table[slot] = expected;
                interpolated[slot] = true;
            }
        }
    }

    // Slot 0 is the smallest angle.
    const auto smallest = std::min_element(table.begin(), table.end()) - table.begin();
    std::rotate(table.begin(), table.begin() + smallest, table.end());
    std::rotate(interpolated.begin(), interpolated.begin() + smallest, interpolated.end());
    for (int s = 0; s < n; ++s) {
        if (table[s] != kEmpty) entries.push_back({table[s], s, interpolated[s]});
    }
    return entries;
}

} // namespace orb
