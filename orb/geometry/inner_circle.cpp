#include "orb/geometry/inner_circle.h"

namespace orb {

// Placeholder until the inner circle search lands.
ResultCode findCircle(const StageInput&, cv::RotatedRect&) { return InnerCircleNotFound; }

} // namespace orb
