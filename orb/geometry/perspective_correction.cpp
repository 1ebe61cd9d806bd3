#include "orb/geometry/perspective_correction.h"

namespace orb {

// Placeholders until the correction chain lands.
ResultCode detectCode(const StageInput&, const DetectionContext&, const cv::RotatedRect&) { return InnerCircleNotFound; }
ResultCode correctWithInnerZebra(const StageInput&, const DetectionContext&, const ZebraResult&, double) { return StartMarkerNotDetected; }
ResultCode correctWithOuterZebra(const StageInput&, const DetectionContext&) { return RadialZebraNotDetected; }
cv::Mat finalTransform(const StageInput&, const cv::Mat& sourceImage, const cv::Matx33d&, const StartMarker&) { return sourceImage.clone(); }

} // namespace orb
