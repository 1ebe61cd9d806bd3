#include "orb/drawing/code_geometry.h"

#include <algorithm>
#include <cmath>

namespace orb {

namespace {
constexpr double kNormalHub = 3.0;
// The reader accepts an inner circle from a sixteenth of the image's mean
// side; this margin keeps drawn codes clear of that edge.
constexpr double kHubMargin = 1.3;
constexpr double kSmallestHubShare = 1.0 / 16.0;
} // namespace

bool isValidModuleCount(int modulesPerRing)
{
    return modulesPerRing == 16 || modulesPerRing == 32 || modulesPerRing == 48 || modulesPerRing == 64;
}

double hubRadiusFor(double imageSide, double pitch)
{
    return std::max(kNormalHub, kHubMargin * kSmallestHubShare * imageSide / pitch);
}

double hubRadiusForOwnImage(int ringCount, double quietZone)
{
    // Own image side S = 2 (4h/3 + R + 1 + q) pitches; solve h >= k S for h
    // with k = margin / 16, then round up to a quarter pitch.
    const double k = kHubMargin * kSmallestHubShare;
    const double h = 2.0 * k * (ringCount + 1.0 + quietZone) / (1.0 - 2.0 * k * 4.0 / 3.0);
    return std::max(kNormalHub, std::ceil(h * 4.0) / 4.0);
}

} // namespace orb
