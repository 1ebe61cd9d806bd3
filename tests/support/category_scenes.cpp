#include "support/category_scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/drawing/text_code.h"
#include "support/code_samples.h"
#include "support/scene_degradations.h"

namespace orb::samples {

namespace {

double uniform(std::mt19937& random, double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(random);
}

// A seed from a name that stays the same across builds and platforms.
std::uint32_t nameSeed(const std::string& name)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return hash;
}

CategoryLevel level(const std::string& label, double value) { return {label, value}; }

// The card of a code and the card of its twin: the same size and paper, the
// QR symbol as wide as the code and centred where the code's centre is.
struct Cards {
    cv::Mat code, twin;
    cv::Point2d centre;     // of the code, card pixels
    double diameter = 0;    // of the code, card pixels
    double pitch = 0;       // card pixels
    double startAngle = 0;  // radians, counter-clockwise on screen
    CodeGeometry geometry;
};

Cards drawCards(const std::string& text, int modulesPerRing, double diameter, std::mt19937& random,
                const TwinSymbol& symbol)
{
    TextCodeOptions options;
    options.modulesPerRing = modulesPerRing;
    DrawOptions drawing;
    drawing.startAngle = uniform(random, 0, kTwoPi);
    drawing.pitch = 10;
    // The writer draws its filler from the C generator, which the whole
    // process shares: seeded and drawn under one lock, a scene is the same
    // whatever was made before it and on whichever thread.
    static std::mutex writerLock;
    const unsigned filler = random();
    const std::lock_guard<std::mutex> guard(writerLock);
    std::srand(filler);
    DrawnCode drawn = drawText(text, options, drawing);
    // Drawn near the size it will have, so placing it neither blurs nor aliases much.
    const double outer = drawn.plan.geometry.outerRadius();
    drawing.pitch = std::clamp(diameter / (2 * outer), 4.0, 24.0);
    std::srand(filler);
    drawn = drawText(text, options, drawing);

    Cards cards;
    cards.pitch = drawn.plan.placement.pitch;
    cards.diameter = 2 * outer * cards.pitch;
    cards.startAngle = drawn.plan.placement.startAngle;
    cards.geometry = drawn.plan.geometry;
    const int margin = static_cast<int>(0.12 * cards.diameter);
    cv::copyMakeBorder(drawn.image, cards.code, margin, margin, margin, margin, cv::BORDER_CONSTANT, cv::Scalar::all(255));
    cards.centre = drawn.plan.placement.centre + cv::Point2d(margin, margin);
    const double paper = uniform(random, 0.9, 0.98); // paper is not paper white
    cards.code.convertTo(cards.code, -1, paper);
    if (symbol) {
        const int side = static_cast<int>(std::lround(cards.diameter));
        const cv::Mat qr = symbol(text, side);
        if (!qr.empty()) {
            cards.twin = cv::Mat(cards.code.size(), CV_8UC3, cv::Scalar::all(255));
            const cv::Rect where(static_cast<int>(std::lround(cards.centre.x - side / 2.0)),
                                 static_cast<int>(std::lround(cards.centre.y - side / 2.0)), side, side);
            cv::cvtColor(qr, cards.twin(where), cv::COLOR_GRAY2BGR);
            cards.twin.convertTo(cards.twin, -1, paper);
        }
    }
    return cards;
}

void applyToCards(Cards& cards, const ImageChange& change)
{
    change(cards.code);
    if (!cards.twin.empty()) change(cards.twin);
}

// Card pixels to frame pixels through a pinhole camera: the card scaled by
// `scale` and turned by `turn` about the code centre, rotated by `tilt`
// about an axis in its plane at `axis`, and seen with the code centre at `at`.
cv::Matx33d pinhole(cv::Point2d centre, double scale, double turn, double tilt, double axis, cv::Point2d at,
                    cv::Size frame, double focal)
{
    const double c = std::cos(turn) * scale, s = std::sin(turn) * scale;
    const cv::Matx33d onPlane(c, -s, -(c * centre.x - s * centre.y), s, c, -(s * centre.x + c * centre.y), 0, 0, 1);
    cv::Matx33d rotation;
    cv::Rodrigues(cv::Vec3d(std::cos(axis), std::sin(axis), 0) * tilt, rotation);
    const cv::Matx33d placed(rotation(0, 0), rotation(0, 1), at.x - frame.width / 2.0, rotation(1, 0), rotation(1, 1),
                             at.y - frame.height / 2.0, rotation(2, 0), rotation(2, 1), focal);
    const cv::Matx33d camera(focal, 0, frame.width / 2.0, 0, focal, frame.height / 2.0, 0, 0, 1);
    return camera * placed * onPlane;
}

cv::Point2f project(const cv::Matx33d& h, cv::Point2d p)
{
    const cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1);
    return {static_cast<float>(q[0] / q[2]), static_cast<float>(q[1] / q[2])};
}

struct Placement {
    cv::Matx33d homography;
    CodeSpot spot;
};

// Where a code of `diameter` frame pixels goes: whole inside the frame and
// clear of the codes already there. Throws std::runtime_error when none fits.
Placement place(const Cards& cards, double diameter, double tilt, cv::Size frame,
                std::vector<std::pair<cv::Point2f, double>>& taken, std::mt19937& random)
{
    const double scale = diameter / cards.diameter, radius = diameter / 2;
    const double focal = std::max(frame.width, frame.height) * uniform(random, 0.8, 1.2);
    const cv::Rect2f inside(2, 2, frame.width - 4.0f, frame.height - 4.0f);
    for (int attempt = 0; attempt < 400; ++attempt) {
        const cv::Point2d at(uniform(random, radius, std::max(radius, frame.width - radius)),
                             uniform(random, radius, std::max(radius, frame.height - radius)));
        const cv::Matx33d h = pinhole(cards.centre, scale, uniform(random, 0, kTwoPi), tilt, uniform(random, 0, CV_PI), at,
                                      frame, focal);
        Placement placement{h, {}};
        placement.spot.centre = project(h, cards.centre);
        double reach = 0, mean = 0;
        bool whole = true;
        for (int k = 0; k < 32 && whole; ++k) {
            const double a = k * kTwoPi / 32;
            const cv::Point2f rim = project(h, cards.centre + cards.diameter / 2 * cv::Point2d(std::cos(a), std::sin(a)));
            whole = inside.contains(rim);
            reach = std::max(reach, cv::norm(rim - placement.spot.centre));
            mean += cv::norm(rim - placement.spot.centre) / 32;
        }
        if (!whole) continue;
        const bool clear = std::all_of(taken.begin(), taken.end(), [&](const auto& other) {
            return cv::norm(other.first - placement.spot.centre) > (other.second + reach) * 1.25;
        });
        if (!clear) continue;
        taken.push_back({placement.spot.centre, reach});
        placement.spot.radius = mean;
        placement.spot.pitch = mean / cards.geometry.outerRadius();
        placement.spot.barPoint = project(h, cards.centre + cards.diameter / 2 * cv::Point2d(std::cos(cards.startAngle),
                                                                                           -std::sin(cards.startAngle)));
        return placement;
    }
    throw std::runtime_error("codes do not fit the frame");
}

void warpInto(cv::Mat& frame, const cv::Mat& card, const cv::Matx33d& h)
{
    cv::Mat warped, mask;
    cv::warpPerspective(card, warped, cv::Mat(h), frame.size(), cv::INTER_LINEAR);
    cv::warpPerspective(cv::Mat(card.size(), CV_8U, cv::Scalar(255)), mask, cv::Mat(h), frame.size(), cv::INTER_LINEAR);
    warped.copyTo(frame, mask > 127);
}

} // namespace

const std::vector<Category>& sceneCategories()
{
    static const std::vector<Category> all = {
        {"clean", "code diameter / short side", {level("0.5", 0.5), level("0.25", 0.25), level("0.12", 0.12)}},
        {"small", "diameter on 1920x1080, px", {level("40", 40), level("48", 48), level("64", 64), level("80", 80)}},
        {"defocus", "Gaussian sigma, ring pitches",
         {level("0.25 p", 0.25), level("0.3 p", 0.3), level("0.4 p", 0.4), level("0.5 p", 0.5), level("0.6 p", 0.6),
          level("0.8 p", 0.8)}},
        {"motion", "blur length, ring pitches",
         {level("0.75 p", 0.75), level("1 p", 1), level("1.5 p", 1.5), level("2 p", 2), level("2.5 p", 2.5),
          level("3 p", 3)}},
        {"tilt", "tilt off the camera axis, degrees",
         {level("30", 30), level("45", 45), level("55", 55), level("60", 60), level("65", 65), level("70", 70),
          level("75", 75)}},
        {"shadow", "light left under a hard shadow",
         {level("0.4", 0.4), level("0.35", 0.35), level("0.3", 0.3), level("0.25", 0.25), level("0.2", 0.2)}},
        {"glare", "grey levels added at the peak", {level("+90", 90), level("+120", 120), level("+160", 160), level("+200", 200)}},
        {"stains", "share of the data area stained",
         {level("3%", 0.03), level("6%", 0.06), level("10%", 0.10), level("15%", 0.15)}},
        {"finger", "finger's reach into the code, share of radius",
         {level("0.15", 0.15), level("0.3", 0.3), level("0.45", 0.45)}},
        {"inverted", "light on dark, diameter / short side", {level("0.5", 0.5), level("0.3", 0.3), level("0.15", 0.15)}},
        {"screen", "monitor photographed, screen px per camera px", {level("1.2", 1.2), level("1.6", 1.6), level("2.2", 2.2)}},
        {"dense", "bytes at 64 modules per ring", {level("60", 60), level("120", 120), level("180", 180)}},
        {"curved", "card on a cylinder, arc in degrees", {level("60", 60), level("90", 90), level("120", 120), level("150", 150)}},
        {"multi", "codes per image", {level("3", 3), level("6", 6), level("9", 9), level("12", 12)}},
    };
    return all;
}

const Category& sceneCategory(const std::string& name)
{
    for (const Category& category : sceneCategories())
        if (category.name == name) return category;
    throw std::out_of_range("no scene category " + name);
}

TwinScene makeCategoryScene(const std::vector<cv::Mat>& photos, const Category& category, std::size_t levelIndex,
                            int index, const TwinSymbol& symbol)
{
    const std::string& kind = category.name;
    const double value = category.levels.at(levelIndex).value;
    // The scene (photo, text, card, place) and the fault's shape are drawn
    // from the index alone, so along a category's levels only the fault's
    // strength changes.
    std::seed_seq sceneSeeds{nameSeed(kind), static_cast<std::uint32_t>(index)};
    std::seed_seq faultSeeds{nameSeed(kind), static_cast<std::uint32_t>(index), 1u};
    std::mt19937 random(sceneSeeds), faultRandom(faultSeeds);

    static const cv::Size kFrames[] = {{1280, 720}, {1920, 1080}, {1280, 720}, {4000, 3000}, {1080, 1920}, {1920, 1080}};
    cv::Size frame = kFrames[index % 6];
    // A monitor's pixel grid is drawn at the screen's resolution: kept to HD.
    if (kind == "small" || (kind == "screen" && frame.area() > 1920 * 1080)) frame = {1920, 1080};
    const double shortSide = std::min(frame.width, frame.height);

    std::vector<double> shares;
    if (kind == "multi")
        for (int k = 0; k < static_cast<int>(value); ++k)
            shares.push_back(std::clamp(0.5 / std::sqrt(value), 0.12, 0.3) * uniform(random, 0.85, 1.0));
    else if (kind == "clean" || kind == "inverted") shares = {value};
    else if (kind == "small") shares = {value / shortSide};
    else if (kind == "dense") shares = {uniform(random, 0.55, 0.7)};
    else if (kind == "tilt") shares = {uniform(random, 0.3, 0.45)};
    else shares = {uniform(random, 0.25, 0.5)};

    const cv::Mat& photo = photos.at((static_cast<std::size_t>(index) + nameSeed(kind)) % photos.size());
    TwinScene result;
    result.scene.image = photoBackground(photo, frame, random);
    if (symbol) result.twin = result.scene.image.clone();
    bool twinComplete = static_cast<bool>(symbol);
    std::vector<std::pair<cv::Point2f, double>> taken;
    std::vector<CodeSpot> spots;
    const int moduleCounts[] = {32, 48, 64};
    for (const double share : shares) {
        const int length = kind == "dense" ? static_cast<int>(value) : std::uniform_int_distribution<int>(4, 12)(random);
        const std::string text = randomText(random, 0, length);
        const int modules = kind == "dense" ? 64 : moduleCounts[random() % 3];
        const double diameter = share * shortSide;
        Cards cards = drawCards(text, modules, diameter, random, symbol);
        twinComplete = twinComplete && !cards.twin.empty();

        if (kind == "inverted") applyToCards(cards, inverted());
        if (kind == "stains")
            applyToCards(cards, stains(cards.code.size(), cards.centre, cards.geometry.dataInnerRadius() * cards.pitch,
                                       cards.geometry.outerZebraInnerRadius() * cards.pitch, cards.pitch, value, faultRandom));
        if (kind == "curved") applyToCards(cards, cylinder(cards.code.size(), value * CV_PI / 180, cards.centre));
        if (kind == "screen") {
            // To the screen's resolution, then each screen pixel a cell of stripes.
            const int cell = 3;
            const double toScreen = diameter * value / cards.diameter;
            applyToCards(cards, [toScreen](cv::Mat& card) {
                cv::resize(card, card, cv::Size(), toScreen, toScreen, toScreen < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
            });
            applyToCards(cards, screenPixels(cell));
            cards.centre *= toScreen * cell;
            cards.diameter *= toScreen * cell;
            cards.pitch *= toScreen * cell;
        } else if (diameter / cards.diameter < 0.8) {
            // A lens does not alias: soften a card that is reduced much.
            const double sigma = 0.45 * cards.diameter / diameter;
            applyToCards(cards, [sigma](cv::Mat& card) { cv::GaussianBlur(card, card, cv::Size(), sigma); });
        }

        const double tilt = (kind == "tilt" ? value : uniform(random, 0, 20)) * CV_PI / 180;
        const Placement placement = place(cards, diameter, tilt, frame, taken, random);
        warpInto(result.scene.image, cards.code, placement.homography);
        if (!cards.twin.empty()) warpInto(result.twin, cards.twin, placement.homography);
        result.scene.codes.push_back({text, placement.spot.centre, 2 * placement.spot.radius});
        spots.push_back(placement.spot);
    }

    // The frame's faults, in the order light, things in front, optics, sensor.
    std::vector<ImageChange> changes;
    const CodeSpot& spot = spots.front();
    changes.push_back(lightGradient(frame, uniform(random, 0.75, 0.9), random));
    if (kind == "shadow") changes.push_back(hardShadow(spot, value, faultRandom));
    if (kind == "glare") changes.push_back(glare(spot, value, faultRandom));
    if (kind == "finger") changes.push_back(finger(spot, value, faultRandom));
    if (kind == "defocus") changes.push_back(defocus(value * spot.pitch));
    if (kind == "motion") changes.push_back(motionBlur(value * spot.pitch, faultRandom));
    changes.push_back(defocus(uniform(random, 0.4, 0.8) * std::max(1.0, shortSide / 1080)));
    changes.push_back(sensorNoise(frame, uniform(random, 2, 4), random));
    changes.push_back(compressed(std::uniform_int_distribution<int>(80, 95)(random)));
    for (const ImageChange& change : changes) {
        change(result.scene.image);
        if (twinComplete) change(result.twin);
    }
    if (!twinComplete) result.twin.release();
    return result;
}

std::vector<cv::Mat> degradedCodeFreeScenes(const cv::Mat& photo, cv::Size frame, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<cv::Mat> scenes;
    const cv::Point2d middle(frame.width / 2.0, frame.height / 2.0);
    for (const cv::Mat& scene : codeFreeScenes(photo, frame, seed)) {
        scenes.push_back(scene);
        cv::Mat blurred, tilted, negative;
        cv::GaussianBlur(scene, blurred, cv::Size(), uniform(random, 1.5, 3.0) * frame.height / 720);
        scenes.push_back(blurred);
        const cv::Matx33d h = pinhole(middle, 1.0, uniform(random, 0, kTwoPi), uniform(random, 55, 70) * CV_PI / 180,
                                      uniform(random, 0, CV_PI), middle, frame, std::max(frame.width, frame.height));
        cv::warpPerspective(scene, tilted, cv::Mat(h), frame, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        scenes.push_back(tilted);
        cv::bitwise_not(scene, negative);
        scenes.push_back(negative);
    }
    return scenes;
}

} // namespace orb::samples
