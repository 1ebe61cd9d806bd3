#include "orb/detection/radial_zebra.h"

namespace orb {

// Placeholders until the radial zebra stage lands.
RadialZebraSearch makeRadialZebraSearch(const cv::Mat& image, const StartMarker& startMarker, int)
{
    RadialZebraSearch search;
    search.image = image;
    search.startMarker = &startMarker;
    return search;
}
ResultCode detectRadialZebra(const DecoderConfiguration&, const RadialZebraSearch&, const DetectionContext&) { return RadialZebraNotDetected; }

} // namespace orb
