#include "orb/detection/angular_edge.h"

#include <cmath>

#include "orb/payload/module_geometry.h"

namespace orb {

double findAngularEdge(double startAngle, double step, const std::function<bool(double)>& inside)
{
    double angle = startAngle;
    bool halving = false;
    while (std::abs(step) > 0.00025 && std::abs(startAngle - angle) <= kTwoPi / 2) {
        if (inside(angle)) {
            if (halving) step /= 2;
            angle += step;
        } else {
            step /= 2;
            halving = true;
            angle -= step;
        }
    }
    if ((step > 0 && startAngle > angle) || (step < 0 && startAngle < angle)) return startAngle;
    return angle;
}

} // namespace orb
