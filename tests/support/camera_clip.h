#pragma once
// Synthetic camera footage: a white card carrying a code, placed on a dark
// background, as a person would hold a printed code up to a camera.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "orb/decoder.h"
#include "orb/drawing/code_drawer.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/payload_types.h"

namespace testing_support {

inline const std::string kClipText = "HELLO CAMERA";

// A square white card of `side` pixels with a 32-module code of `text` in
// its middle, drawn off the pixel grid as a real camera would see it.
inline cv::Mat codeCard(const std::string& text, int side, double pitch)
{
    const int modulesPerRing = 32;
    const int rings = orb::fewestRings(text, orb::Automatic, orb::Medium, modulesPerRing, 1, 3);
    const auto modules =
        orb::writeModules(text, orb::Automatic, orb::Medium, 4, 0, rings, modulesPerRing - 5, 1);
    orb::DrawOptions options;
    options.pitch = pitch;
    options.canvas = cv::Size(side, side);
    options.centreOffset = {0.37, 0.21};
    return orb::drawCode(modules, modulesPerRing, rings, options).image;
}

// A frame of `size` with a dark background under a bright strip, and, if
// given, the card with its top left corner at `at` (clipped at the frame's
// border). The strip keeps a binarised background dark with or without the
// card, as a lit wall would.
inline cv::Mat sceneFrame(cv::Size size, const cv::Mat& card = {}, cv::Point at = {})
{
    cv::Mat frame(size, CV_8UC3, cv::Scalar::all(70));
    const int strip = size.height / 8;
    frame.rowRange(size.height - strip, size.height).setTo(cv::Scalar::all(210));
    if (!card.empty()) {
        const cv::Rect target = cv::Rect(at, card.size()) & cv::Rect(cv::Point(), size);
        card(cv::Rect(target.tl() - at, target.size())).copyTo(frame(target));
    }
    return frame;
}

// Name of frame `index` in an image sequence "frames/%04d.png".
inline std::filesystem::path framePath(const std::filesystem::path& directory, int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "%04d.png", index);
    return directory / "frames" / name;
}

inline void writeFrame(const std::filesystem::path& directory, int index, const cv::Mat& frame)
{
    std::filesystem::create_directories(directory / "frames");
    cv::imwrite(framePath(directory, index).string(), frame);
}

// Repeats a frame without writing it again: long clips cost only links.
inline void repeatFrame(const std::filesystem::path& directory, int index, const std::filesystem::path& source)
{
    std::filesystem::create_hard_link(source, framePath(directory, index));
}

// True when the decoder reads the clip's text from `image` as it stands.
inline bool readsClipText(const cv::Mat& image)
{
    try {
        return orb::decode(orb::DecoderConfiguration{}, image, false) == kClipText;
    } catch (const orb::OCException&) {
        return false;
    }
}

} // namespace testing_support
