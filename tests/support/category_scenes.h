#pragma once
// Photo scenes by category of camera fault, each at levels from easy to past
// the point where reading breaks, and beside every scene its twin: the same
// text as a QR symbol as wide as the code, on the same card at the same
// place, with exactly the same fault. Blur lengths are in ring pitches p
// (the radial size of one ring of the code, in the frame's pixels).
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "support/photo_scenes.h"

namespace orb::samples {

struct CategoryLevel {
    std::string label; // as printed, e.g. "0.4 p"
    double value = 0;
};

struct Category {
    std::string name; // one word, for filters and files
    std::string axis; // what the level measures
    std::vector<CategoryLevel> levels;
};

const std::vector<Category>& sceneCategories();
// The category called `name`; throws std::out_of_range for another name.
const Category& sceneCategory(const std::string& name);

// A QR symbol for `text`, black on white, `side` pixels square without a
// quiet zone; empty when the text does not fit one.
using TwinSymbol = std::function<cv::Mat(const std::string& text, int side)>;

struct TwinScene {
    Scene scene;
    cv::Mat twin; // empty without a symbol drawer or when a text fit no symbol
};

// Scene `index` of `category` at level `level`: the same for the same
// arguments in any order of calls. Photo, frame, text, place, turn, tilt and
// card vary with the index; along the levels only the fault's strength does.
TwinScene makeCategoryScene(const std::vector<cv::Mat>& photos, const Category& category, std::size_t level, int index,
                            const TwinSymbol& symbol = {});

// The no-code scenes of codeFreeScenes, each also blurred, tilted steeply
// and inverted.
std::vector<cv::Mat> degradedCodeFreeScenes(const cv::Mat& photo, cv::Size frame, unsigned seed);

} // namespace orb::samples
