#include "app/read_overlay.h"

#include <algorithm>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

namespace app {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Long enough for a person to see which code was read, short enough that a
// mark does not linger where the code has left.
constexpr std::int64_t kHoldTicks = kTicksPerSecond / 2;
constexpr std::int64_t kFadeTicks = kTicksPerSecond * 3 / 10;
// Longer texts are cut: a label must not cover the picture.
constexpr std::size_t kLabelCharacters = 40;

constexpr int kStatusFont = cv::FONT_HERSHEY_PLAIN;
constexpr int kLabelFont = cv::FONT_HERSHEY_SIMPLEX;
constexpr int kStatusMargin = 5;
const std::string kStatusSeparator = " | ";

// Colours no grey scene has, so the marks stand out on any frame.
const cv::Scalar kOutlineColour(0, 230, 0);
const cv::Scalar kCentreColour(0, 0, 255);
const cv::Scalar kCandidateColour(0, 160, 255);
const cv::Scalar kLabelColour(255, 255, 255);
const cv::Scalar kLabelBackground(0, 0, 0);

// 1 while a mark is held, falling to 0 while it fades.
double opacity(std::int64_t ageTicks)
{
    if (ageTicks <= kHoldTicks) return 1;
    return std::max(0.0, 1 - static_cast<double>(ageTicks - kHoldTicks) / kFadeTicks);
}

// What the window's font can draw: printable ASCII, anything else one '?'
// per character (a UTF-8 sequence counts once).
std::string drawableText(const std::string& text)
{
    std::string drawable;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte < 0xC0) continue; // continuation of a UTF-8 sequence
        drawable += byte >= 0x20 && byte < 0x7F ? c : '?';
    }
    if (drawable.size() > kLabelCharacters) drawable = drawable.substr(0, kLabelCharacters - 3) + "...";
    return drawable;
}

// Lines that stay visible on small frames and do not swamp large ones.
int lineThickness(const cv::Mat& frame) { return std::max(2, cvRound(frame.cols / 480.0)); }

std::vector<cv::Point> pixelPolygon(const std::vector<cv::Point2f>& points)
{
    std::vector<cv::Point> polygon;
    for (const cv::Point2f& point : points) polygon.emplace_back(cvRound(point.x), cvRound(point.y));
    return polygon;
}

// The text beside the code: right of its ring at the height of its centre,
// left of it when the right has no room, always inside the frame.
void drawLabel(cv::Mat& frame, const CodeMark& mark, const cv::Rect& ring)
{
    if (mark.text.empty()) return;
    const double scale = std::clamp(frame.cols / 1600.0, 0.45, 1.0);
    const int thickness = scale > 0.75 ? 2 : 1;
    int baseline = 0;
    const cv::Size size = cv::getTextSize(mark.text, kLabelFont, scale, thickness, &baseline);
    const int gap = 6;
    int x = ring.br().x + gap;
    if (x + size.width > frame.cols - gap) x = ring.x - gap - size.width;
    x = std::clamp(x, gap / 2, std::max(gap / 2, frame.cols - size.width - gap / 2));
    const int y = std::clamp(cvRound(mark.centre.y) + size.height / 2, size.height + gap / 2,
                             std::max(size.height + gap / 2, frame.rows - baseline - gap / 2));
    cv::rectangle(frame, cv::Point(x - 3, y - size.height - 3), cv::Point(x + size.width + 3, y + baseline),
                  kLabelBackground, cv::FILLED);
    cv::putText(frame, mark.text, cv::Point(x, y), kLabelFont, scale, kLabelColour, thickness, cv::LINE_AA);
}

void drawMark(cv::Mat& frame, const CodeMark& mark)
{
    const int thickness = lineThickness(frame);
    const std::vector<cv::Point> outline = pixelPolygon(mark.outline);
    cv::Rect ring(cvRound(mark.centre.x), cvRound(mark.centre.y), 1, 1);
    if (!outline.empty()) {
        cv::polylines(frame, outline, true, kOutlineColour, thickness, cv::LINE_AA);
        ring = cv::boundingRect(outline);
    }
    const int cross = std::max(9, std::min(ring.width, ring.height) / 6);
    cv::drawMarker(frame, cv::Point(cvRound(mark.centre.x), cvRound(mark.centre.y)), kCentreColour, cv::MARKER_CROSS,
                   cross, thickness, cv::LINE_AA);
    drawLabel(frame, mark, ring);
}

int textWidth(const std::string& text, double scale)
{
    int baseline = 0;
    return cv::getTextSize(text, kStatusFont, scale, 1, &baseline).width;
}

} // namespace

void ReadMarks::add(const orb::ReadResult& code, std::int64_t nowTicks)
{
    CodeMark mark{drawableText(code.text()), code.position.centre, code.position.outline, nowTicks};
    for (CodeMark& shown : codes_) {
        if (shown.text == mark.text && !shown.outline.empty() &&
            cv::pointPolygonTest(shown.outline, mark.centre, false) >= 0) {
            shown = std::move(mark);
            return;
        }
    }
    codes_.push_back(std::move(mark));
}

void ReadMarks::setCandidates(std::vector<cv::RotatedRect> hubs, std::int64_t nowTicks)
{
    candidates_ = std::move(hubs);
    candidatesTicks_ = nowTicks;
}

void ReadMarks::expire(std::int64_t nowTicks)
{
    std::erase_if(codes_, [&](const CodeMark& mark) { return opacity(nowTicks - mark.readTicks) <= 0; });
    if (opacity(nowTicks - candidatesTicks_) <= 0) candidates_.clear();
}

void ReadMarks::draw(cv::Mat& frame, std::int64_t nowTicks, bool withCandidates) const
{
    const bool candidates = withCandidates && !candidates_.empty() && opacity(nowTicks - candidatesTicks_) > 0;
    const bool codes = std::any_of(codes_.begin(), codes_.end(),
                                   [&](const CodeMark& mark) { return opacity(nowTicks - mark.readTicks) > 0; });
    if (!candidates && !codes) return;
    if (frame.channels() == 1) cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);

    if (candidates)
        for (const cv::RotatedRect& hub : candidates_) cv::ellipse(frame, hub, kCandidateColour, 1, cv::LINE_AA);
    for (const CodeMark& mark : codes_) {
        const double alpha = opacity(nowTicks - mark.readTicks);
        if (alpha >= 1) {
            drawMark(frame, mark);
        } else if (alpha > 0) {
            cv::Mat layer = frame.clone();
            drawMark(layer, mark);
            cv::addWeighted(layer, alpha, frame, 1 - alpha, 0, frame);
        }
    }
}

StatusLayout layoutStatusLine(const std::string& text, int frameWidth)
{
    StatusLayout layout;
    layout.lines = {text};
    const int available = std::max(1, frameWidth - 2 * kStatusMargin);
    int widest = textWidth(text, 1.0);
    if (widest > available) {
        // Two lines, split at the separator nearest the middle.
        const std::size_t middle = text.size() / 2;
        std::size_t split = std::string::npos;
        for (std::size_t at = text.find(kStatusSeparator); at != std::string::npos;
             at = text.find(kStatusSeparator, at + 1))
            if (split == std::string::npos || std::labs(static_cast<long>(at) - static_cast<long>(middle)) <
                                                   std::labs(static_cast<long>(split) - static_cast<long>(middle)))
                split = at;
        if (split != std::string::npos) {
            layout.lines = {text.substr(0, split), text.substr(split + kStatusSeparator.size())};
            widest = std::max(textWidth(layout.lines[0], 1.0), textWidth(layout.lines[1], 1.0));
        }
    }
    layout.scale = std::min(1.0, static_cast<double>(available) / widest);
    // Glyph widths round per character: shrink until the widest line fits.
    const auto fits = [&] {
        return std::all_of(layout.lines.begin(), layout.lines.end(),
                           [&](const std::string& line) { return textWidth(line, layout.scale) <= available; });
    };
    while (!fits() && layout.scale > 0.05) layout.scale *= 0.97;
    int baseline = 0;
    const cv::Size glyph = cv::getTextSize("Ag", kStatusFont, layout.scale, 1, &baseline);
    layout.lineHeight = glyph.height + baseline + 2;
    return layout;
}

void drawStatusLine(cv::Mat& frame, const std::string& text)
{
    const StatusLayout layout = layoutStatusLine(text, frame.cols);
    int baseline = 0;
    const int glyphHeight = cv::getTextSize("Ag", kStatusFont, layout.scale, 1, &baseline).height;
    const int bandHeight = std::min(frame.rows, layout.lineHeight * static_cast<int>(layout.lines.size()) + 3);
    // A darker band keeps the white text readable on a bright scene.
    cv::Mat band = frame.rowRange(0, bandHeight);
    band.convertTo(band, -1, 0.5);
    for (std::size_t i = 0; i < layout.lines.size(); ++i)
        cv::putText(frame, layout.lines[i],
                    cv::Point(kStatusMargin, 2 + glyphHeight + static_cast<int>(i) * layout.lineHeight), kStatusFont,
                    layout.scale, cv::Scalar::all(255), 1, cv::LINE_8);
}

} // namespace app
