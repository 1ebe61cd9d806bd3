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
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + std::to_string(canvas.width) +
           "\" height=\"" + std::to_string(canvas.height) + "\" viewBox=\"0 0 " + std::to_string(canvas.width) +
           " " + std::to_string(canvas.height) + "\">\n";
    svg += "<rect width=\"" + std::to_string(canvas.width) + "\" height=\"" + std::to_string(canvas.height) +
           "\" fill=\"#ffffff\"/>\n";
    for (const CodeShape& shape : plan.shapes) {
        const std::string fill = colourText(shape.colour);
        if (shape.isDisc()) {
            svg += "<circle cx=\"" + number(cx) + "\" cy=\"" + number(cy) + "\" r=\"" + number(shape.radius) +
                   "\" fill=\"" + fill + "\"/>\n";
            continue;
        }
        const double x0 = cx + shape.radius * std::cos(shape.fromAngle);
        const double y0 = cy - shape.radius * std::sin(shape.fromAngle);
        const double x1 = cx + shape.radius * std::cos(shape.toAngle);
        const double y1 = cy - shape.radius * std::sin(shape.toAngle);
        const bool large = shape.toAngle - shape.fromAngle > kTwoPi / 2;
        // Counter-clockwise on screen is the negative sweep in SVG's y-down frame.
        svg += "<path d=\"M" + number(cx) + " " + number(cy) + " L" + number(x0) + " " + number(y0) + " A" +
               number(shape.radius) + " " + number(shape.radius) + " 0 " + (large ? "1" : "0") + " 0 " +
               number(x1) + " " + number(y1) + " Z\" fill=\"" + fill + "\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace orb
