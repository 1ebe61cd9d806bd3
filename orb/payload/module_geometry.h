#pragma once
// Where a module sits on the code: shared by grid reading and the drawer so
// the two agree by construction.
#include <cmath>

#include <opencv2/core.hpp>

namespace orb {

inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kDegree = kTwoPi / 360;

// The code centre of a corrected image: the exact middle of the image, in
// halves of a pixel, which is where every correction puts it.
inline cv::Point2d imageCentre(const cv::Mat& image) { return {image.cols * 0.5, image.rows * 0.5}; }

// Rounds half away from zero, as std::lround does, without its library
// call: ray walks and grid reading round millions of pixel positions. The
// fraction v - trunc(v) is exact in doubles. Only for |v| < 2^31; larger
// values (and NaN) lie outside any image anyway.
inline long roundHalfAway(double v)
{
    const long whole = static_cast<long>(v);
    const double fraction = v - static_cast<double>(whole);
    return whole + static_cast<long>(fraction >= 0.5) - static_cast<long>(fraction <= -0.5);
}

// Module positions of a ring count clockwise from the start marker
// (position 0). Positions 0, 1, 2 (the radial zebra), M-2 and M-1 carry no
// data; data module c of a ring is at position c + 3.
inline constexpr int kFirstDataPosition = 3;
inline constexpr int dataModulesPerRing(int modulesPerRing) { return modulesPerRing - 5; }

// Centre angle (radians, counter-clockwise on screen) of module `position`
// when the start marker bar is at `startAngle`.
inline double moduleAngle(double startAngle, int position, int modulesPerRing)
{
    return startAngle - position * (kTwoPi / modulesPerRing);
}

// Radius of the middle of data ring n (0 = innermost) given the middle radius
// of the innermost ring and the ring pitch.
inline double ringRadius(double firstRadius, double pitch, int ring) { return firstRadius + ring * pitch; }

// Physical grid row of data ring n: row 0 is the outermost ring, read first.
inline constexpr int gridRow(int ring, int ringCount) { return ringCount - 1 - ring; }

} // namespace orb
