#include "support/photo_scenes.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/drawing/code_drawer.h"
#include "orb/drawing/text_code.h"
#include "support/code_samples.h"

namespace orb::samples {

namespace {

double uniform(std::mt19937& random, double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(random);
}

// `photo` scaled to cover `frame` and cut to it at a random place.
cv::Mat background(const cv::Mat& photo, cv::Size frame, std::mt19937& random)
{
    const double cover = std::max(static_cast<double>(frame.width) / photo.cols,
                                  static_cast<double>(frame.height) / photo.rows) * uniform(random, 1.0, 1.3);
    cv::Mat scaled;
    cv::resize(photo, scaled, cv::Size(), cover, cover, cover < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    const int x = std::uniform_int_distribution<int>(0, std::max(0, scaled.cols - frame.width))(random);
    const int y = std::uniform_int_distribution<int>(0, std::max(0, scaled.rows - frame.height))(random);
    return scaled(cv::Rect(cv::Point(x, y), frame)).clone();
}

// A code with a random text on a card a little wider than its quiet zone,
// drawn with a pitch near `pitch`. The card's own code centre is returned.
cv::Mat drawCard(const std::string& text, int modulesPerRing, double diameter, double& codeDiameter,
                 cv::Point2d& centre, std::mt19937& random)
{
    TextCodeOptions options;
    options.modulesPerRing = modulesPerRing;
    DrawOptions drawing;
    drawing.startAngle = uniform(random, 0, kTwoPi);
    drawing.pitch = 10;
    DrawnCode drawn = drawText(text, options, drawing);
    // Redraw near the frame's size so the placement neither blurs nor aliases much.
    const double outer = drawn.plan.geometry.outerRadius();
    drawing.pitch = std::clamp(diameter / (2 * outer), 4.0, 24.0);
    drawn = drawText(text, options, drawing);
    codeDiameter = 2 * outer * drawn.plan.placement.pitch;
    const int margin = static_cast<int>(0.12 * codeDiameter);
    cv::Mat card;
    cv::copyMakeBorder(drawn.image, card, margin, margin, margin, margin, cv::BORDER_CONSTANT, cv::Scalar::all(255));
    card.convertTo(card, -1, uniform(random, 0.9, 0.98)); // paper is not paper white
    centre = drawn.plan.placement.centre + cv::Point2d(margin, margin);
    return card;
}

// Multiplies the frame by a linear light gradient and darkens a soft
// ellipse. Both are smooth, so the gain is made small and enlarged once:
// big floating-point frames cost more than the rest of a scene.
void unevenLight(cv::Mat& frame, std::mt19937& random)
{
    const cv::Size small(std::max(2, frame.cols / 8), std::max(2, frame.rows / 8));
    const double angle = uniform(random, 0, kTwoPi);
    const double low = uniform(random, 0.55, 0.8), high = uniform(random, 1.0, 1.1);
    cv::Mat xs(1, small.width, CV_32F), ys(small.height, 1, CV_32F);
    for (int x = 0; x < small.width; ++x) xs.at<float>(x) = static_cast<float>(std::cos(angle) * x / small.width);
    for (int y = 0; y < small.height; ++y) ys.at<float>(y) = static_cast<float>(std::sin(angle) * y / small.height);
    cv::Mat ramp = cv::repeat(xs, small.height, 1) + cv::repeat(ys, 1, small.width);
    cv::normalize(ramp, ramp, low, high, cv::NORM_MINMAX);
    cv::Mat shadow = cv::Mat::zeros(small, CV_32F);
    const double side = std::min(small.width, small.height);
    cv::ellipse(shadow, cv::Point(static_cast<int>(uniform(random, 0, small.width)), static_cast<int>(uniform(random, 0, small.height))),
                cv::Size(static_cast<int>(side * uniform(random, 0.2, 0.5)), static_cast<int>(side * uniform(random, 0.1, 0.3))),
                uniform(random, 0, 180), 0, 360, cv::Scalar(uniform(random, 0.25, 0.4)), cv::FILLED);
    cv::GaussianBlur(shadow, shadow, cv::Size(), std::max(1.0, side * 0.04));
    cv::Mat gain;
    cv::Mat(ramp - shadow).convertTo(gain, CV_8U, 200.0);
    cv::resize(gain, gain, frame.size(), 0, 0, cv::INTER_LINEAR);
    cv::cvtColor(gain, gain, cv::COLOR_GRAY2BGR);
    cv::multiply(frame, gain, frame, 1.0 / 200.0);
}

void blurAndNoise(cv::Mat& frame, std::mt19937& random)
{
    const double side = std::min(frame.cols, frame.rows);
    cv::GaussianBlur(frame, frame, cv::Size(), uniform(random, 0.4, 1.0) * std::max(1.0, side / 1080));
    cv::Mat noise(frame.size(), CV_16SC3);
    cv::theRNG().state = random();
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(uniform(random, 2, 5)));
    cv::Mat sum;
    frame.convertTo(sum, CV_16SC3);
    sum += noise;
    sum.convertTo(frame, CV_8UC3);
}

} // namespace

cv::Mat photoBackground(const cv::Mat& photo, cv::Size frame, std::mt19937& random)
{
    return background(photo, frame, random);
}

std::vector<cv::Mat> loadPhotos()
{
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(ORB_SAMPLES_DATA) / "photos"))
        if (entry.path().extension() == ".jpg") names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    std::vector<cv::Mat> photos;
    for (const auto& name : names) photos.push_back(cv::imread(name.string(), cv::IMREAD_COLOR));
    return photos;
}

Scene makeScene(const cv::Mat& photo, const SceneRecipe& recipe)
{
    std::mt19937 random(recipe.seed);
    Scene scene;
    scene.image = background(photo, recipe.frame, random);
    const double shortSide = std::min(recipe.frame.width, recipe.frame.height);
    const int modules[] = {32, 48, 64};

    std::vector<std::pair<cv::Point2d, double>> taken; // centre, radius of each card
    for (const double share : recipe.codeShares) {
        const std::string text = randomText(random, 0, std::uniform_int_distribution<int>(4, 12)(random));
        const double diameter = share * shortSide;
        double drawnDiameter = 0;
        cv::Point2d cardCentre;
        const cv::Mat card = drawCard(text, modules[random() % 3], diameter, drawnDiameter, cardCentre, random);
        const double scale = diameter / drawnDiameter;

        // Where the code goes: whole inside the frame, clear of other cards.
        const double radius = diameter / 2 * 1.15;
        cv::Point2d at;
        bool placed = false;
        for (int attempt = 0; attempt < 200 && !placed; ++attempt) {
            at = {uniform(random, radius, std::max(radius, recipe.frame.width - radius)),
                  uniform(random, radius, std::max(radius, recipe.frame.height - radius))};
            placed = std::all_of(taken.begin(), taken.end(), [&](const auto& other) {
                return cv::norm(other.first - at) > other.second + radius * 1.1;
            });
        }
        if (!placed) throw std::runtime_error("codes do not fit the frame");
        taken.push_back({at, radius * 1.1});

        // Card -> frame: scale and turn about the code centre, then tilt by
        // moving the corners of the card as placed.
        cv::Matx33d place = cv::Matx33d::eye();
        const cv::Mat turn = cv::getRotationMatrix2D(cardCentre, uniform(random, 0, 360), scale);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c) place(r, c) = turn.at<double>(r, c);
        place(0, 2) += at.x - cardCentre.x;
        place(1, 2) += at.y - cardCentre.y;
        if (recipe.faults.perspective) {
            // A tilt that would push part of the code out of the frame is
            // drawn again: a code cut by the frame's edge is no test of reading.
            const float w = static_cast<float>(card.cols), h = static_cast<float>(card.rows);
            const std::vector<cv::Point2f> corners = {{0, 0}, {w, 0}, {w, h}, {0, h}};
            std::vector<cv::Point2f> rim;
            for (int k = 0; k < 32; ++k)
                rim.push_back(cv::Point2f(cardCentre) + static_cast<float>(drawnDiameter / 2) *
                                                            cv::Point2f(static_cast<float>(std::cos(k * kTwoPi / 32)),
                                                                        static_cast<float>(std::sin(k * kTwoPi / 32))));
            std::vector<cv::Point2f> placedCorners;
            cv::perspectiveTransform(corners, placedCorners, cv::Mat(place));
            const cv::Rect2f inside(2, 2, recipe.frame.width - 4.0f, recipe.frame.height - 4.0f);
            for (double reach = 0.12 * card.cols * scale; reach > 1; reach *= 0.8) {
                std::vector<cv::Point2f> tilted, rimPlaced;
                for (const cv::Point2f& corner : placedCorners)
                    tilted.push_back(corner + cv::Point2f(static_cast<float>(uniform(random, -reach, reach)),
                                                          static_cast<float>(uniform(random, -reach, reach))));
                const cv::Matx33d tilt(cv::getPerspectiveTransform(corners, tilted));
                cv::perspectiveTransform(rim, rimPlaced, cv::Mat(tilt));
                if (std::all_of(rimPlaced.begin(), rimPlaced.end(), [&](const cv::Point2f& p) { return inside.contains(p); })) {
                    place = tilt;
                    break;
                }
            }
        }
        cv::Mat warped, mask;
        const cv::Mat opaque(card.size(), CV_8U, cv::Scalar(255));
        cv::warpPerspective(card, warped, cv::Mat(place), recipe.frame, cv::INTER_LINEAR);
        cv::warpPerspective(opaque, mask, cv::Mat(place), recipe.frame, cv::INTER_LINEAR);
        warped.copyTo(scene.image, mask > 127);

        std::vector<cv::Point2f> centre;
        cv::perspectiveTransform(std::vector<cv::Point2f>{cv::Point2f(cardCentre)}, centre, cv::Mat(place));
        scene.codes.push_back({text, centre[0], diameter});
    }

    if (recipe.faults.light) unevenLight(scene.image, random);
    if (recipe.faults.blurAndNoise) blurAndNoise(scene.image, random);
    if (recipe.faults.jpegQuality > 0)
        scene.image = jpeg(scene.image, std::uniform_int_distribution<int>(recipe.faults.jpegQuality, 95)(random));
    return scene;
}

std::vector<cv::Mat> codeFreeScenes(const cv::Mat& photo, cv::Size frame, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<cv::Mat> scenes;
    scenes.push_back(background(photo, frame, random));

    // A page of text.
    cv::Mat page(frame, CV_8UC3, cv::Scalar::all(245));
    const double letter = frame.height / 720.0;
    for (int y = static_cast<int>(30 * letter); y < frame.height; y += static_cast<int>(28 * letter))
        cv::putText(page, randomText(random, 0, 60), {20, y}, cv::FONT_HERSHEY_SIMPLEX, 0.9 * letter,
                    cv::Scalar::all(20), std::max(1, static_cast<int>(2 * letter)), cv::LINE_AA);
    scenes.push_back(page);

    // Circles and targets: dot in a disc in a ring, at many sizes, on the photo.
    cv::Mat targets = background(photo, frame, random);
    for (int i = 0; i < 25; ++i) {
        const cv::Point centre(static_cast<int>(uniform(random, 0, frame.width)), static_cast<int>(uniform(random, 0, frame.height)));
        const int r = static_cast<int>(uniform(random, 8, frame.height / 6.0));
        cv::circle(targets, centre, 2 * r, cv::Scalar::all(250), cv::FILLED, cv::LINE_AA);
        cv::circle(targets, centre, static_cast<int>(1.5 * r), cv::Scalar::all(10), cv::FILLED, cv::LINE_AA);
        cv::circle(targets, centre, r, cv::Scalar::all(250), cv::FILLED, cv::LINE_AA);
        cv::circle(targets, centre, std::max(1, r / 3), cv::Scalar::all(10), cv::FILLED, cv::LINE_AA);
    }
    scenes.push_back(targets);

    // Printed rings: the structure of a code around random modules.
    cv::Mat rings = background(photo, frame, random);
    for (int i = 0; i < 4; ++i) {
        const int modulesPerRing = 32;
        const int ringCount = 3 + static_cast<int>(random() % 5);
        std::vector<std::uint8_t> modules(static_cast<std::size_t>(ringCount * (modulesPerRing - 5)));
        for (auto& module : modules) module = static_cast<std::uint8_t>(random() % 2);
        DrawOptions drawing;
        drawing.pitch = uniform(random, 6, 12) * frame.height / 720.0;
        const cv::Mat code = drawCode(modules, modulesPerRing, ringCount, drawing).image;
        const int x = static_cast<int>(uniform(random, 0, std::max(1, frame.width - code.cols)));
        const int y = static_cast<int>(uniform(random, 0, std::max(1, frame.height - code.rows)));
        const cv::Rect where = cv::Rect(x, y, code.cols, code.rows) & cv::Rect(0, 0, frame.width, frame.height);
        code(cv::Rect(0, 0, where.width, where.height)).copyTo(rings(where));
    }
    scenes.push_back(rings);
    return scenes;
}

} // namespace orb::samples
