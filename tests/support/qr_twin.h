#pragma once
// The QR twin of a scene, drawn and read by zxing-cpp (QR only): the peer a
// user compares us with. Only the tests and the sweep link it.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "support/category_scenes.h"

namespace orb::samples {

// Black on white, `side` pixels square, no quiet zone (the card gives one);
// empty when `text` fits no QR symbol.
cv::Mat qrSymbol(const std::string& text, int side);

// The texts of the QR codes zxing-cpp reads in `frame` (8-bit BGR).
std::vector<std::string> readQrCodes(const cv::Mat& frame);

// How a scene and its twin read: codes placed, codes whose text we read,
// texts we read that are no placed code's, codes the QR reader read.
struct TwinReads {
    int codes = 0;
    int ours = 0;
    int misread = 0;
    int twin = 0;
};

// Reads the scene with the reader's defaults and its twin with zxing-cpp.
TwinReads readTwinScene(const TwinScene& scene);

} // namespace orb::samples
