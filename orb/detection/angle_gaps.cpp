#include "orb/detection/angle_gaps.h"

#include <cmath>

#include "orb/payload/module_geometry.h"

namespace orb {

double angleGap(double from, double to)
{
    double gap = to - from;
    if (from > to) gap += kTwoPi;
    return gap;
}

std::vector<double> circleGaps(const std::vector<double>& angles)
{
    std::vector<double> gaps;
    double sum = 0;
    for (std::size_t i = 1; i < angles.size(); ++i) {
        gaps.push_back(angleGap(angles[i - 1], angles[i]));
        sum += gaps.back();
    }
    if (gaps.empty() || sum < kTwoPi) gaps.push_back(kTwoPi - sum);
    return gaps;
}

double gapVarCoeff(const std::vector<double>& gaps, double step)
{
    double squares = 0;
    for (double gap : gaps) squares += (gap - step) * (gap - step);
    return std::sqrt(squares / static_cast<double>(gaps.size())) / step;
}

} // namespace orb
