#pragma once
// The console program's read of the places a search finds, for when it has
// just read the image as a whole itself (its decode).
#include <opencv2/core.hpp>

#include "orb/reader.h"

namespace orb {

// readCode without the whole-image read: only the places the search finds.
ReadResult readFoundCode(const cv::Mat& image, const ReaderOptions& options = {});
// The same with the search limited to `searchArea` (the image's pixels; a
// hub must lie well inside it), the places it finds read from the whole
// image: for a code seen lately near there, at a fraction of the search.
// An area outside the image finds nothing.
ReadResult readFoundCodeNear(const cv::Mat& image, const cv::Rect& searchArea, const ReaderOptions& options = {});

// readCode, readCodes and searchCodes with the whole-image read left to the
// host (the Python module lets its callers choose).
ReadResult readCode(const cv::Mat& image, const ReaderOptions& options, bool wholeImage);
std::vector<ReadResult> readCodes(const cv::Mat& image, const ReaderOptions& options, bool wholeImage);
CodeSearch searchCodes(const cv::Mat& image, const ReaderOptions& options, std::size_t maxCodes, bool wholeImage);

} // namespace orb
