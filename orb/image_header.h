#pragma once
// What an image file's own header and structure say about it, read from its
// bytes without decoding a pixel: the size of each page, and whether the file
// ends early or fails its own checks. The loader needs this before it hands
// the file to a decoder, which would otherwise take the memory first.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace orb {

struct ImageHeader {
    std::string format;          // "PNG", "JPEG", "TIFF", ...
    std::vector<cv::Size> pages; // the size of each picture in the file, in order
    std::string damage;          // why the file is truncated or corrupt; empty when whole
    bool decodable = true;       // false when the damage is known to stop the decoder, which would only complain
};

// The header of `bytes`, for the formats whose header is known here (PNG,
// JPEG, BMP, the PNM family with PAM and PFM, Sun raster, TIFF, Radiance HDR,
// WebP, JPEG 2000, OpenEXR); nothing for other data. A header that cannot be
// parsed gives a header without pages.
std::optional<ImageHeader> readImageHeader(std::span<const unsigned char> bytes);

} // namespace orb
