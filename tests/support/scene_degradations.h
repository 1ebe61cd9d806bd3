#pragma once
// What goes wrong when a person holds the camera, as changes to a card or a
// frame. Each change is drawn once from the random engine and then applied
// alike to a scene and to its twin, so both see exactly the same fault.
#include <functional>
#include <random>

#include <opencv2/core.hpp>

namespace orb::samples {

// A change to an 8-bit BGR image, in place.
using ImageChange = std::function<void(cv::Mat&)>;

// Where a code lies in the frame, for the faults that aim at it.
struct CodeSpot {
    cv::Point2f centre;
    double radius = 0;       // apparent, pixels
    double pitch = 0;        // ring pitch, pixels
    cv::Point2f barPoint;    // where the start marker meets the outer edge
};

// The card's faults, in the card's pixels. `dataInner` and `dataOuter` bound
// the data rings around `centre`.
ImageChange stains(cv::Size card, cv::Point2d centre, double dataInner, double dataOuter, double pitch, double share,
                   std::mt19937& random);
// The card wrapped round a cylinder whose axis runs down the card, seen
// from afar: `arc` radians of the cylinder span the card's width. Returns
// the change and moves `centre` to where it lands.
ImageChange cylinder(cv::Size card, double arc, cv::Point2d& centre);
ImageChange inverted();
// The card shown on a monitor: each screen pixel becomes a cell of red,
// green and blue stripes over a dark row, `cell` card pixels wide.
ImageChange screenPixels(int cell);

// The frame's faults.
ImageChange defocus(double sigma);
ImageChange motionBlur(double length, std::mt19937& random);
// A straight hard-edged shadow across the code leaving `lightLeft` of the light.
ImageChange hardShadow(const CodeSpot& code, double lightLeft, std::mt19937& random);
// A specular reflection adding `peak` grey levels at its brightest.
ImageChange glare(const CodeSpot& code, double peak, std::mt19937& random);
// A finger from outside the code reaching `reach` of its radius in, over
// the start marker's side, so the outer zebra, start marker and radial
// zebra are hidden where it lies.
ImageChange finger(const CodeSpot& code, double reach, std::mt19937& random);
// A light gradient over the frame (never darker than `low`).
ImageChange lightGradient(cv::Size frame, double low, std::mt19937& random);
ImageChange sensorNoise(cv::Size frame, double sigma, std::mt19937& random);
ImageChange compressed(int quality);

} // namespace orb::samples
