#pragma once
// Vector drawing of a code, for print: the same shapes as the raster drawer.
#include <string>

#include "orb/drawing/code_shapes.h"

namespace orb {

// A standalone SVG document of the plan, one user unit per canvas pixel.
std::string codeSvg(const CodePlan& plan);

} // namespace orb
