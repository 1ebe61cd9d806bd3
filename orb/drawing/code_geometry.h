#pragma once
// The drawn form of a code in one table: every radius in ring pitches, so the
// same description scales to any print size, and the angular roles of the
// module positions. The drawer, the vector writer and the documentation all
// read it from here.
#include <cstdint>

#include "orb/payload/module_geometry.h"

namespace orb {

struct CodeGeometry {
    int modulesPerRing = 32; // M: 16, 32, 48 or 64
    int ringCount = 6;       // R data rings
    // Radius of the white hub around the centre dot, which the reader takes
    // as the inner circle. Three pitches normally; larger when the code must
    // be found in an image much bigger than itself (see hubRadiusFor).
    double hubRadius = 3.0;

    // The black dot in the middle. Kept well inside the hub so the two
    // never tie in the reader's blob choice.
    double dotRadius() const { return hubRadius / 3.0; }
    // Thickness of each of the two inner zebra bands (solid, then notched);
    // the notched band must end at the first data ring.
    double zebraBand() const { return hubRadius / 6.0; }
    double notchInnerRadius() const { return hubRadius + zebraBand(); }
    double dataInnerRadius() const { return hubRadius + 2.0 * zebraBand(); }
    // Middle of data ring n (0 = innermost): where the reader samples it.
    double ringMiddleRadius(int ring) const { return dataInnerRadius() + ring + 0.5; }
    double ringInnerRadius(int ring) const { return dataInnerRadius() + ring; }
    double ringOuterRadius(int ring) const { return dataInnerRadius() + ring + 1.0; }
    // The outer angular zebra is exactly one pitch thick: a thicker one is
    // not found.
    double outerZebraInnerRadius() const { return dataInnerRadius() + ringCount; }
    double outerRadius() const { return outerZebraInnerRadius() + 1.0; }

    // Angular roles of the positions, counted clockwise from the bar.
    static constexpr int kBarPosition = 0;
    static constexpr int kRadialZebraPosition = 2;
    // Beside the bar: kept white so the bar stands alone in the marker search.
    bool isCorridor(int position) const
    {
        return position == 1 || position == modulesPerRing - 2 || position == modulesPerRing - 1;
    }
    bool isDataPosition(int position) const
    {
        return position >= kFirstDataPosition && position < modulesPerRing - 2;
    }
    // Inner zebra features: one white notch every four positions, M/4 in all.
    bool isNotch(int position) const { return position % 4 == 3; }
    // The radial zebra alternates from the outside in, so the outermost data
    // ring is white there and stands out against the black outer zebra.
    bool radialZebraBlack(int ring) const { return (ringCount - 1 - ring) % 2 == 1; }
    bool outerZebraBlack(int position) const { return position % 2 == 0; }
};

// Modules per ring the format knows.
bool isValidModuleCount(int modulesPerRing);

// Hub radius (pitches) that keeps the hub at least 1.3 times the smallest
// inner circle the reader accepts in an image whose mean side is
// `imageSide` pixels; never below the normal 3 pitches.
double hubRadiusFor(double imageSide, double pitch);

// Hub radius (pitches) for a code drawn in its own image with a quiet zone of
// `quietZone` pitches: grows for codes of about a dozen rings or more, whose
// image would otherwise outgrow the hub.
double hubRadiusForOwnImage(int ringCount, double quietZone);

} // namespace orb
