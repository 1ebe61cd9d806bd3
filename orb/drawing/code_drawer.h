#pragma once
// Raster drawing of a code: the module vector of a writer becomes an
// anti-aliased colour image, with the geometry it was drawn in.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/drawing/code_shapes.h"

namespace orb {

struct DrawOptions {
    double pitch = 10.0;                   // ring pitch, pixels
    double startAngle = kTwoPi / 4.0;      // bar angle, radians (default: bar pointing up)
    // Code centre relative to the canvas centre (cols / 2, rows / 2), pixels.
    // That centre is a pixel centre on an even canvas; (-0.5, -0.5) puts the
    // code in the exact middle of its image.
    cv::Point2d centreOffset{0.0, 0.0};
    cv::Size canvas{};                     // empty: the code and its quiet zone
    double quietZone = 2.0;                // pitches of white around the code on the automatic canvas
    double hubRadius = 0.0;                // pitches; 0 chooses one the reader finds in this canvas
    std::int32_t codeType = BlackAndWhite; // Color: data modules 0..7, structure stays black and white
};

// The plan of a code: geometry, placement on the canvas and its shapes.
// `modules` holds ringCount * (modulesPerRing - 5) values in the reader's
// physical order. The canvas centre is (cols / 2, rows / 2), as the reader
// takes it. Throws OCException(CodeCannotBeCreated) on bad input.
CodePlan planCode(const std::vector<std::uint8_t>& modules, int modulesPerRing, int ringCount,
                  const DrawOptions& options = {});

// Paints a plan: 8-bit, three channels (blue, green, red), anti-aliased.
cv::Mat renderCode(const CodePlan& plan);

struct DrawnCode {
    cv::Mat image;
    CodePlan plan;
};

DrawnCode drawCode(const std::vector<std::uint8_t>& modules, int modulesPerRing, int ringCount,
                   const DrawOptions& options = {});

} // namespace orb
