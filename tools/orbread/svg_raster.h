#pragma once
// SVG files through rsvg-convert (librsvg), run as a child process without
// a shell, bounded in time and in the bytes it may give back.
#include <string>
#include <vector>

namespace orbread {

struct SvgRaster {
    std::vector<unsigned char> png; // the picture on white; empty when it failed
    std::string error;              // why, when it failed
};

SvgRaster rasteriseSvg(const std::string& path, std::size_t maxBytes, double seconds);

} // namespace orbread
