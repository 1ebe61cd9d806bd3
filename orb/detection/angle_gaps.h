#pragma once
// The spacing of marks around a circle, as both zebras judge it.
#include <vector>

namespace orb {

// The angle from `from` to `to` going round counter-clockwise: a step back
// past a full turn wraps.
double angleGap(double from, double to);

// The gaps between neighbouring angles in order, and the gap that closes
// the circle when they leave one.
std::vector<double> circleGaps(const std::vector<double>& angles);

// How far `gaps` depart from equal steps of `step`, as a share of the step
// (the root mean square departure over the step).
double gapVarCoeff(const std::vector<double>& gaps, double step);

} // namespace orb
