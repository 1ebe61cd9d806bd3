#pragma once
// Binarised ring codes drawn pixel by pixel in polar coordinates, so each
// structure search can be checked on an exactly known picture.
#include <cmath>
#include <cstdint>
#include <random>

#include <opencv2/core.hpp>

#include "orb/payload/module_geometry.h"

namespace orb::test {

struct SyntheticCode {
    int modulesPerRing = 32;
    int rings = 6;
    double pitch = 16;
    double hub = 48;          // white disc radius; the inner circle radius R
    double startAngle = 1.0;  // the bar's centre angle
    cv::Point2d centre{320, 240};
    cv::Size size{640, 480};
    unsigned seed = 7;
    bool bar = true;
    bool secondBar = false;   // a like bar opposite the first, white corridors included
    int missingFeature = -1;  // index of an inner zebra feature left out

    double z() const { return hub / 6; }
    double firstRingInner() const { return hub + 2 * z(); }
    double outerZebraInner() const { return firstRingInner() + rings * pitch; }
    double outerRadius() const { return outerZebraInner() + pitch; }
    double moduleAngle() const { return kTwoPi / modulesPerRing; }
};

// Position (clockwise from the bar) of the module at `angle`.
inline int positionAt(const SyntheticCode& code, double angle)
{
    const double turns = (code.startAngle - angle) / code.moduleAngle();
    const int m = code.modulesPerRing;
    return ((static_cast<int>(std::lround(turns)) % m) + m) % m;
}

inline cv::Mat drawSyntheticCode(const SyntheticCode& code)
{
    const int m = code.modulesPerRing;
    std::mt19937 random(code.seed);
    cv::Mat data(code.rings, m, CV_8UC1);
    for (int r = 0; r < code.rings; ++r) {
        for (int p = 0; p < m; ++p) data.at<std::uint8_t>(r, p) = (random() & 1) ? 0 : 255;
    }
    cv::Mat image(code.size, CV_8UC1, cv::Scalar(255));
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const double dx = x - code.centre.x;
            const double dy = code.centre.y - y;
            const double rho = std::hypot(dx, dy);
            double angle = std::atan2(dy, dx);
            if (angle < 0) angle += kTwoPi;
            const int position = positionAt(code, angle);
            bool black = false;
            if (rho < code.hub || rho >= code.outerRadius()) {
                black = false;
            } else if (rho < code.hub + code.z()) {
                black = true;
            } else if (rho < code.firstRingInner()) {
                const bool feature = position % 4 == 3 && position / 4 != code.missingFeature;
                black = !feature;
            } else if (rho >= code.outerZebraInner()) {
                black = position % 2 == 0;
            } else {
                const int ring = static_cast<int>((rho - code.firstRingInner()) / code.pitch);
                const int opposite = position - m / 2;
                if (code.secondBar && (opposite == -1 || opposite == 1)) black = false;
                else if (code.secondBar && opposite == 0) black = true;
                else if (position == 0) black = code.bar;
                else if (position == 1 || position == m - 2 || position == m - 1) black = false;
                else if (position == 2) black = (code.rings - 1 - ring) % 2 == 1;
                else black = data.at<std::uint8_t>(ring, position) == 0;
            }
            image.at<std::uint8_t>(y, x) = black ? 0 : 255;
        }
    }
    return image;
}

} // namespace orb::test
