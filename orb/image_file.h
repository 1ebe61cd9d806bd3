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
    cv::Mat image;      // three-channel colour when loaded, otherwise empty
    cv::Size size;      // the size the file claims, when too large
    std::string reason; // why nothing was loaded
};

// Loads `path` as a three-channel colour image, in any format the image
// library reads. A picture above `maxPixels` is refused with a Warning that
// gives its size; other failures are only returned. Never throws.
ImageLoad loadImage(const std::string& path, std::int64_t maxPixels = kMaxImagePixels);

} // namespace orb
