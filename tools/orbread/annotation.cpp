#include "annotation.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace orbread {

namespace {

std::vector<cv::Point> pixels(const std::vector<cv::Point2f>& points)
{
    std::vector<cv::Point> out;
    for (const cv::Point2f& p : points) out.emplace_back(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
    return out;
}

// The text as the drawing font can show it: printable ASCII, the rest as '?',
// cut to a length that fits beside a code.
std::string drawable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue; // continuation bytes of one UTF-8 character
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
        if (out.size() >= 40) {
            out += "...";
            break;
        }
    }
    return out;
}

} // namespace

cv::Mat annotate(const cv::Mat& image, const std::vector<orb::ReadResult>& codes,
                 const std::vector<orb::ReadResult>& failed)
{
    cv::Mat out = image.channels() == 3 ? image.clone() : cv::Mat();
    if (out.empty()) cv::cvtColor(image, out, image.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    const int shortSide = std::min(out.cols, out.rows);
    const int thickness = std::max(2, shortSide / 300);
    const double fontScale = std::max(0.5, shortSide / 900.0);
    const int font = cv::FONT_HERSHEY_SIMPLEX;

    for (const orb::ReadResult& place : failed) {
        if (place.position.outline.empty()) continue;
        cv::polylines(out, pixels(place.position.outline), true, kFailedColour, thickness, cv::LINE_8);
    }
    for (const orb::ReadResult& code : codes) {
        const std::vector<cv::Point> outline = pixels(code.position.outline);
        if (outline.empty()) continue;
        cv::polylines(out, outline, true, kOutlineColour, thickness, cv::LINE_8);
        const cv::Point centre(static_cast<int>(std::lround(code.position.centre.x)),
                               static_cast<int>(std::lround(code.position.centre.y)));
        cv::drawMarker(out, centre, kCentreColour, cv::MARKER_CROSS, 6 * thickness, thickness, cv::LINE_8);

        // The text to the right of the code, or to its left near the right edge.
        const cv::Rect box = cv::boundingRect(outline);
        const std::string text = drawable(code.text());
        int baseline = 0;
        const cv::Size size = cv::getTextSize(text, font, fontScale, thickness / 2 + 1, &baseline);
        const int pad = thickness * 2;
        int x = box.x + box.width + 3 * thickness;
        if (x + size.width + pad > out.cols) x = std::max(pad, box.x - 3 * thickness - size.width);
        const int y = std::clamp(box.y + box.height / 2 + size.height / 2, size.height + pad, out.rows - pad);
        const cv::Rect back(x - pad, y - size.height - pad, size.width + 2 * pad, size.height + baseline + 2 * pad);
        cv::rectangle(out, back & cv::Rect(0, 0, out.cols, out.rows), cv::Scalar::all(255), cv::FILLED);
        cv::putText(out, text, {x, y}, font, fontScale, kTextColour, thickness / 2 + 1, cv::LINE_AA);
    }
    return out;
}

bool writeAnnotation(const std::string& path, const cv::Mat& image, const std::vector<orb::ReadResult>& codes,
                     const std::vector<orb::ReadResult>& failed)
{
    return cv::imwrite(path, annotate(image, codes, failed));
}

std::vector<std::string> annotationPaths(const std::string& directory, const std::vector<std::string>& names)
{
    std::vector<std::string> paths;
    std::set<std::string> used;
    for (const std::string& name : names) {
        std::string base = name == "-" ? std::string("stdin") : std::filesystem::path(name).filename().string();
        if (base.empty()) base = "image";
        std::string candidate = base + ".png";
        for (int n = 2; used.count(candidate) > 0; ++n) candidate = base + "-" + std::to_string(n) + ".png";
        used.insert(candidate);
        paths.push_back((std::filesystem::path(directory) / candidate).string());
    }
    return paths;
}

} // namespace orbread
