#include "orb/drawing/svg_writer.h"

#include <cmath>
#include <cstdio>

namespace orb {

namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string s(text);
    // Trim trailing zeros: the files get long for codes of many rings.
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string colourText(const cv::Scalar& bgr)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(bgr[2]), static_cast<int>(bgr[1]),
                  static_cast<int>(bgr[0]));
    return text;
}

} // namespace

std::string codeSvg(const CodePlan& plan)
{
    const cv::Size canvas = plan.placement.canvas;
    // Pixel x covers x - 0.5 .. x + 0.5 on the raster; user units start at
    // the pixel's left edge.
    const double cx = plan.placement.centre.x + 0.5;
    const double cy = plan.placement.centre.y + 0.5;
    auto point = [&](double radius, double angle) {
        return number(cx + radius * std::cos(angle)) + " " + number(cy - radius * std::sin(angle));
    };
    // Arcs are written one module at a time: the sectors that meet along an
    // arc then describe it with the same pieces, which renderers trace
    // identically, so no hairline shows between them. Counter-clockwise on
    // screen is the negative sweep in SVG's y-down frame.
    const double moduleStep = kTwoPi / plan.geometry.modulesPerRing;
    const double anchor = plan.placement.startAngle + moduleStep / 2;
    auto arc = [&](double radius, double from, double to) {
        const long first = std::lround((from - anchor) / moduleStep);
        const long last = std::lround((to - anchor) / moduleStep);
        const long direction = last >= first ? 1 : -1;
        const std::string sweep = direction > 0 ? " 0 " : " 1 ";
        std::string text;
        for (long j = first + direction;; j += direction) {
            text += " A" + number(radius) + " " + number(radius) + " 0 0" + sweep +
                    point(radius, anchor + static_cast<double>(j) * moduleStep);
            if (j == last) break;
        }
        return text;
    };

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + std::to_string(canvas.width) +
           "\" height=\"" + std::to_string(canvas.height) + "\" viewBox=\"0 0 " + std::to_string(canvas.width) +
           " " + std::to_string(canvas.height) + "\">\n";
    svg += "<rect width=\"" + std::to_string(canvas.width) + "\" height=\"" + std::to_string(canvas.height) +
           "\" fill=\"#ffffff\"/>\n";
    // One path per layer: a renderer fills it in one pass, so sectors that
    // meet show no seam between them.
    for (const CodeLayer& layer : plan.layers) {
        std::string d;
        for (const CodeShape& shape : layer.shapes) {
            if (shape.isDisc()) {
                const double r = shape.outerRadius;
                d += "M" + point(r, anchor) + arc(r, anchor, anchor + kTwoPi) + " Z";
                continue;
            }
            d += "M" + point(shape.outerRadius, shape.fromAngle) +
                 arc(shape.outerRadius, shape.fromAngle, shape.toAngle);
            if (shape.innerRadius > 0)
                d += " L" + point(shape.innerRadius, shape.toAngle) +
                     arc(shape.innerRadius, shape.toAngle, shape.fromAngle);
            else
                d += " L" + number(cx) + " " + number(cy);
            d += " Z";
        }
        svg += "<path fill=\"" + colourText(layer.colour) + "\" d=\"" + d + "\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace orb
