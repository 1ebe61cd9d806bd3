#pragma once
// What the fuzz targets share: a quiet library, and the byte form of an
// image-decoding input that the decode target reads and the seed maker writes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace fuzz {

// Console logging off and OpenCV single-threaded and silent: a run prints
// only the fuzzer's own lines, and the two cores stay with the fuzzer.
void quietLibrary();

// One decode call.
struct ImageInput {
    cv::Mat image;
    bool enhance = false;
    std::int32_t codeType = 0;
    std::int32_t layout = 4;
};

// Byte form: a 4-byte header, then the pixels row by row.
//   byte 0: bit 0 enhance, bit 1 colour code type, bits 2-3 channels
//           (1, 3, 4, 1), bits 4-5 upscaling factor minus one
//   byte 1: layout (mod 8, so two values the decoder does not know)
//   byte 2, 3: width and height minus one (1 to 256 pixels)
// Pixels the bytes do not reach are white, so a short input is a mostly
// white image. The image is then enlarged by the factor, at most to
// kMaxSide on its longer side.
inline constexpr int kHeaderSize = 4;
inline constexpr int kMaxSide = 512;

ImageInput imageFromBytes(const std::uint8_t* data, std::size_t size);

// The inverse, for seeds: `image` is 8-bit with 1, 3 or 4 channels and at
// most 256 pixels on each side; `scale` 1 to 4.
std::vector<std::uint8_t> bytesFromImage(const cv::Mat& image, bool enhance, std::int32_t codeType,
                                         std::int32_t layout, int scale);

} // namespace fuzz
