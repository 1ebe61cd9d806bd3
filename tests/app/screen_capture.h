#pragma once
// Screenshots of the virtual display: the screen file the X server keeps
// (XWD format, see VirtualDisplay), read as a BGR image.
#include <cstdint>
#include <filesystem>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "support/temporary_directory.h"

namespace testing_support {

// The screen of display 0 kept in `directory`; empty when the file is not
// (yet) a 32-bit image.
inline cv::Mat screenshot(const std::filesystem::path& directory)
{
    const std::string file = orb::testing::readFile(directory / "Xvfb_screen0");
    // The header is 25 big-endian 32-bit fields, then the window name.
    const auto field = [&](int index) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(file[4 * index + i]);
        return value;
    };
    if (file.size() < 100) return {};
    const std::uint32_t headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                        bitsPerPixel = field(11), bytesPerLine = field(12), colours = field(19);
    const std::size_t pixels = headerSize + 12 * static_cast<std::size_t>(colours); // 12 bytes per colour entry
    if (bitsPerPixel != 32 || file.size() < pixels + static_cast<std::size_t>(bytesPerLine) * height) return {};
    const cv::Mat raw(static_cast<int>(height), static_cast<int>(width), CV_8UC4,
                      const_cast<char*>(file.data() + pixels), bytesPerLine);
    cv::Mat bgr;
    if (byteOrder == 0) {
        cv::cvtColor(raw, bgr, cv::COLOR_BGRA2BGR); // least significant byte first: blue, green, red, pad
    } else {
        const int fromTo[] = {3, 0, 2, 1, 1, 2}; // pad, red, green, blue
        bgr.create(raw.size(), CV_8UC3);
        cv::mixChannels(&raw, 1, &bgr, 1, fromTo, 3);
    }
    return bgr;
}

} // namespace testing_support
