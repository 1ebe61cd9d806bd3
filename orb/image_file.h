#pragma once
// Loading an image file for decoding, guarded against decompression bombs:
// small files whose header claims an enormous picture.
#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

namespace orb {

// The largest picture loaded, in pixels: 120 megapixels, above the sensor of
// any camera a code is photographed with. A file claiming more is refused
// from its header, before memory is taken for its pixels; without the limit
// an 875 KB PNG of 30000 x 30000 pixels costs 2.7 GB and seconds of decoding.
inline constexpr std::int64_t kMaxImagePixels = 120'000'000;

struct ImageLoad {
    enum class Status { Loaded, Unreadable, TooLarge };
    Status status = Status::Unreadable;
    cv::Mat image;       // 8-bit three-channel colour when loaded, otherwise empty
    cv::Size size;       // the size the file claims, when too large
    std::string reason;  // why nothing was loaded
    std::string warning; // the file is truncated or corrupt, though a picture was decoded from it
    int pages = 1;       // pictures in the file (a TIFF may hold several)
};

// Loads page `page` (from 0) of `path` as an 8-bit three-channel colour
// image, in any format the image library reads: transparency is laid onto
// white, deeper and floating-point samples are scaled to 8 bits. A picture
// above `maxPixels` is refused from its header with a Warning that gives its
// size, and a damaged file that still decodes gets a Warning too; other
// failures are only returned. Never throws, and leaves the image library's
// settings as they were.
ImageLoad loadImage(const std::string& path, std::int64_t maxPixels = kMaxImagePixels, int page = 0);

} // namespace orb
