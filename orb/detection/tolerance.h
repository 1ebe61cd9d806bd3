#pragma once
#include <algorithm>
#include <cmath>

namespace orb {

// The detection stages' tolerance test: a and b agree within `tolerance`
// times the larger magnitude.
inline bool within(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance * std::max(std::abs(a), std::abs(b));
}

} // namespace orb
