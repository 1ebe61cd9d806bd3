#pragma once
// Loading one input file as an image: what the image library reads, and the
// formats it does not (SVG, as orbwrite writes it; GIF), told apart by their
// first bytes, not by the file's name.
#include <cstdint>
#include <string>
#include <string_view>

#include "orb/image_file.h"

namespace orbread {

enum class ImageFormat { Library, Svg, Gif };

// The format the first bytes of a file show.
ImageFormat detectFormat(std::string_view head);

struct LoadChoices {
    std::int64_t maxPixels = orb::kMaxImagePixels;
    bool rasteriseSvg = true; // false: an SVG is refused (the fuzzer starts no programs)
    double svgSeconds = 20;   // rsvg-convert is ended after this long
};

// Loads `path` as a three-channel colour image, with the loader's pixel
// limit for every format. A file that cannot be opened says why
// ("Permission denied"). Never throws.
orb::ImageLoad loadInputImage(const std::string& path, const LoadChoices& choices = {});

} // namespace orbread
