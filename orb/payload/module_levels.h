#pragma once
// Module values decided against the black and white levels around each
// module instead of one fixed threshold, with how sure each decision is:
// what a shadow, glare or stain leaves readable, and which modules the
// error correction is told are unsure.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace orb {

struct LevelReading {
    std::vector<std::uint8_t> values; // as GridReader reads them: 1 dark, or the colour value
    // Per module: its distance from the threshold between its local levels,
    // as a share of their contrast; 0 at the threshold, 0.5 at a level.
    std::vector<float> certainty;
};

// `means` are the modules' mean blue, green and red in physical order
// (ringCount rows of perRing modules, row 0 the outermost ring). A module's
// levels are the darkest and lightest means within two modules along its
// ring and one ring in and out; the ring wraps round.
LevelReading readByLocalLevels(const std::vector<cv::Vec3f>& means, int ringCount, int perRing, int bitsPerModule);

} // namespace orb
