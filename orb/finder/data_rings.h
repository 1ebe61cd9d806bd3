#pragma once
// Whether a found hub has a code's data rings round it: cheap evidence,
// read before any cut or chain, that turns down the many places a
// photograph shows with a hub and a ring but nothing beyond them (targets,
// letters, washers).
#include <opencv2/core.hpp>

#include "orb/finder/code_finder.h"

namespace orb {

// Rays of the grey image round `candidate`'s hub, along the hub's own
// ellipse grown to the middle of the first two data rings: there a code
// changes from module to module (at the least its bar and the white
// corridors beside it), while a place without a code is as even as its
// ring. False only on clear evidence: a place whose rings leave the image,
// or whose hub is no lighter than its ring, keeps its read.
bool showsDataRings(const cv::Mat& grey, const CodeCandidate& candidate);

} // namespace orb
