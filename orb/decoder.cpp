#include "orb/decoder.h"

namespace orb {

// Placeholder until the decode entry lands.
std::string decode(const DecoderConfiguration&, const cv::Mat&, bool) { throw OCException(InnerCircleNotFound, ""); }

} // namespace orb
