#pragma once
// Photographs of printed codes, made up: codes drawn by the project's
// writer on a white card, the card placed into a real photograph the way a
// hand-held camera sees it (turned, tilted, unevenly lit, blurred, noisy,
// compressed), and scenes of things that look a little like codes but are none.
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace orb::samples {

// Which camera faults a scene gets besides the card's turn.
struct SceneFaults {
    bool perspective = true; // corners moved by up to 12 % of the card
    bool light = true;       // a light gradient over the frame and a soft shadow
    bool blurAndNoise = true;
    int jpegQuality = 0;     // 0: not compressed; else 60..95 drawn at random
};

struct SceneRecipe {
    cv::Size frame{1280, 720};
    // The diameter of each code, as a share of the frame's short side.
    std::vector<double> codeShares{0.5};
    SceneFaults faults;
    unsigned seed = 1;
};

struct PlacedCode {
    std::string text;
    cv::Point2f centre; // in the frame's pixels
    double diameter = 0;
};

struct Scene {
    cv::Mat image; // 8-bit BGR
    std::vector<PlacedCode> codes;
};

// The photographs under tests/data/photos (their licence is noted there).
std::vector<cv::Mat> loadPhotos();

// `photo` scaled to cover `frame` (by 1 to 1.3 times) and cut to it at a
// random place.
cv::Mat photoBackground(const cv::Mat& photo, cv::Size frame, std::mt19937& random);

// A frame of `recipe.frame` filled by `photo`, with the recipe's codes on
// cards that do not overlap. Throws std::runtime_error when the codes
// cannot be placed.
Scene makeScene(const cv::Mat& photo, const SceneRecipe& recipe);

// Scenes without any code, each of `frame` size: the photograph alone, a
// page of text, circles and shooting targets (dot in a disc in a ring), and
// printed rings of random sectors around a hub, which only the payload
// checks tell from a code.
std::vector<cv::Mat> codeFreeScenes(const cv::Mat& photo, cv::Size frame, unsigned seed);

} // namespace orb::samples
