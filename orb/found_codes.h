#pragma once
// The console program's read of the places a search finds, for when it has
// just read the image as a whole itself (its decode).
#include <opencv2/core.hpp>

#include "orb/reader.h"

namespace orb {

// readCode without the whole-image read: only the places the search finds.
ReadResult readFoundCode(const cv::Mat& image, const ReaderOptions& options = {});

} // namespace orb
