#pragma once
// The angular bisection shared by the bar and feature edge searches.
#include <functional>

namespace orb {

// Turns from `startAngle` by `step` while `inside(angle)` holds; after the
// first angle outside, the step is halved and the search closes in on the
// edge. Ends when the step is below 0.00025 rad or half a turn is covered.
// An edge behind the start angle yields the start angle.
double findAngularEdge(double startAngle, double step, const std::function<bool(double)>& inside);

} // namespace orb
