#pragma once
// One description of a drawn code, in pixels: layers of one colour each,
// painted in order over a white canvas. A layer is a set of annular sectors
// and discs around the code centre that never overlap one another, so a
// vector renderer can fill each layer as one path. The raster drawer and the
// vector writer both paint exactly these layers, so the two cannot disagree.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/drawing/code_geometry.h"
#include "orb/payload/ring_grid.h"

namespace orb {

// An annular sector from `fromAngle` counter-clockwise to `toAngle` between
// two radii around the code centre; a full turn with no inner radius is a
// disc.
struct CodeShape {
    double innerRadius = 0; // pixels; 0: the sector reaches the centre
    double outerRadius = 0; // pixels
    double fromAngle = 0;   // radians, counter-clockwise on screen
    double toAngle = 0;
    bool isDisc() const { return toAngle - fromAngle >= kTwoPi; }
};

struct CodeLayer {
    cv::Scalar colour; // blue, green, red
    std::vector<CodeShape> shapes;
};

// Where and how large the code sits on its canvas.
struct CodePlacement {
    cv::Size canvas;       // pixels
    cv::Point2d centre;    // pixel coordinates: pixel (x, y) is centred on (x, y)
    double pitch = 10;     // ring pitch, pixels
    double startAngle = 0; // bar angle, radians
};

// Everything needed to paint a code, and what the reader should find in it.
struct CodePlan {
    CodeGeometry geometry;
    CodePlacement placement;
    std::vector<CodeLayer> layers; // in painting order, over a white canvas

    // Radius (pixels) of the middle of the innermost and outermost data ring.
    double firstRadius() const { return geometry.ringMiddleRadius(0) * placement.pitch; }
    double lastRadius() const { return geometry.ringMiddleRadius(geometry.ringCount - 1) * placement.pitch; }
    // The ring grid a reader should measure on this code.
    RingGrid ringGrid() const { return {geometry.ringCount, firstRadius(), lastRadius()}; }
};

// Blue, green, red of a module value: 0 white, 1 black, then red, green,
// blue, cyan, magenta, yellow, as the reader classifies them.
cv::Scalar moduleColour(std::uint8_t value);

// The shapes of a code whose data modules are `modules` in physical order
// (row 0 the outermost ring, ringCount rows of modulesPerRing - 5 values:
// 0/1 when `bitsPerModule` is 1, 0..7 when 3). Throws
// OCException(CodeCannotBeCreated) for a module vector of the wrong length,
// a value out of range, an unknown module count, fewer than two rings, a
// pitch below 2 pixels or a code that does not fit its canvas.
CodePlan planCode(const CodeGeometry& geometry, const CodePlacement& placement,
                  const std::vector<std::uint8_t>& modules, int bitsPerModule);

} // namespace orb
