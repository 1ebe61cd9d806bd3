#pragma once
// --annotate: the image with what the reader found drawn on it.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/reader.h"

namespace orbread {

// The colours drawn (BGR), exact: lines are drawn without smoothing, so a
// test can find them.
inline const cv::Scalar kOutlineColour(0, 200, 0);   // a read code's outer edge
inline const cv::Scalar kCentreColour(255, 0, 255);  // its centre mark
inline const cv::Scalar kTextColour(255, 120, 0);    // its text, on a white box
inline const cv::Scalar kFailedColour(0, 0, 255);    // a place the search found that did not read

// `image` with each code outlined, its centre marked and its text beside it,
// and each failed place's hub outlined in kFailedColour.
cv::Mat annotate(const cv::Mat& image, const std::vector<orb::ReadResult>& codes,
                 const std::vector<orb::ReadResult>& failed);

// Writes annotate(...) as a PNG file; false when it could not be written.
bool writeAnnotation(const std::string& path, const cv::Mat& image, const std::vector<orb::ReadResult>& codes,
                     const std::vector<orb::ReadResult>& failed);

// The picture names for `names` in `directory`: each name's file name
// with .png added, made unique within the run by -2, -3 ...
std::vector<std::string> annotationPaths(const std::string& directory, const std::vector<std::string>& names);

} // namespace orbread
