// Reads many drawn codes under one degradation at a time and prints the pass
// rate per level: the long sweeps that do not fit the test suite.
//   orbsweep [--count N] [--seed S] [--group NAME]
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <sstream>

#include "app/image_modification.h"
#include "orb/decoder_configuration.h"
#include "orb/logger.h"
#include "orb/payload/payload_types.h"
#include "support/code_samples.h"

using namespace orb;
using namespace orb::samples;

namespace {

struct Level {
    std::string name;
    std::function<cv::Mat(const cv::Mat&, std::mt19937&)> degrade;
};

struct Group {
    std::string name;
    std::vector<Level> levels;
};

std::vector<Group> groups()
{
    std::vector<Group> all;
    Group perspectiveGroup{"perspective", {}};
    for (double share : {0.0, 0.05, 0.10, 0.15, 0.20})
        perspectiveGroup.levels.push_back({std::to_string(int(share * 100)) + "%", [share](const cv::Mat& m, std::mt19937& r) {
                                               return share == 0 ? m.clone() : perspective(m, share, r);
                                           }});
    all.push_back(perspectiveGroup);
    Group blurGroup{"blur", {}};
    for (double sigma : {1.0, 1.5, 2.0, 3.0, 4.0})
        blurGroup.levels.push_back({"sigma " + std::to_string(sigma).substr(0, 3),
                                    [sigma](const cv::Mat& m, std::mt19937&) { return gaussianBlur(m, sigma); }});
    all.push_back(blurGroup);
    Group noiseGroup{"noise", {}};
    for (double share : {0.01, 0.02, 0.05, 0.10, 0.20})
        noiseGroup.levels.push_back({std::to_string(int(share * 100)) + "%", [share](const cv::Mat& m, std::mt19937& r) {
                                         return saltAndPepper(m, share, r);
                                     }});
    all.push_back(noiseGroup);
    Group blotchGroup{"blotches", {}};
    for (int count : {2, 5, 10, 20})
        blotchGroup.levels.push_back({std::to_string(count) + " of r8", [count](const cv::Mat& m, std::mt19937& r) {
                                          return blotches(m, count, 8, r);
                                      }});
    all.push_back(blotchGroup);
    Group jpegGroup{"jpeg", {}};
    for (int quality : {90, 50, 30, 20, 10})
        jpegGroup.levels.push_back({"q" + std::to_string(quality),
                                    [quality](const cv::Mat& m, std::mt19937&) { return jpeg(m, quality); }});
    all.push_back(jpegGroup);
    // The camera loop's own distortions, by the digit a user presses.
    const std::pair<const char*, app::DistortionTarget> targets[] = {{"distort-perspective", app::DistortionTarget::Perspective},
                                                                    {"distort-noise", app::DistortionTarget::Noise},
                                                                    {"distort-area", app::DistortionTarget::Area}};
    for (const auto& [name, target] : targets) {
        Group group{name, {}};
        for (int digit : {1, 2, 3, 5, 7, 9})
            group.levels.push_back({"level " + std::to_string(digit), [target, digit](const cv::Mat& m, std::mt19937& r) {
                                        app::DistortionLevels levels;
                                        std::ostringstream ignored;
                                        app::setDistortionLevel(levels, target, digit, ignored);
                                        std::srand(static_cast<unsigned>(r()));
                                        return app::distortImage(levels, m);
                                    }});
        all.push_back(group);
    }
    Group pitchGroup{"pitch", {}};
    for (double factor : {1.0, 0.75, 0.6, 0.5, 0.4})
        pitchGroup.levels.push_back({"scale " + std::to_string(factor).substr(0, 4),
                                     [factor](const cv::Mat& m, std::mt19937&) { return scaled(m, factor); }});
    all.push_back(pitchGroup);
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 24;
    unsigned seed = 7;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--count") && i + 1 < argc) count = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--group") && i + 1 < argc) only = argv[++i];
        else {
            std::cerr << "usage: orbsweep [--count N] [--seed S] [--group NAME]\n";
            return 2;
        }
    }
    logger().setConsoleLevel(static_cast<int>(LogLevel::Off));
    const int moduleCounts[] = {16, 32, 48, 64};
    for (const auto& group : groups()) {
        if (!only.empty() && group.name != only) continue;
        for (const auto& level : group.levels) {
            std::mt19937 random(seed);
            int passed = 0;
            for (int i = 0; i < count; ++i) {
                SampleRecipe recipe;
                recipe.modulesPerRing = moduleCounts[i % 4];
                recipe.colour = (i / 4) % 2 == 1;
                recipe.text = randomText(random, Letters, 4 + static_cast<int>(random() % 10));
                recipe.minRings = 3 + static_cast<int>(random() % 4);
                recipe.pitch = 14;
                recipe.startAngle = (random() % 6283) / 1000.0;
                recipe.centreOffset = {(random() % 200) / 10.0 - 10 + 0.37, (random() % 200) / 10.0 - 10 + 0.21};
                recipe.mask = static_cast<int>(random() % 5);
                Sample sample;
                // The writer's filler comes from the C generator: seed it per
                // code so every run draws the same images.
                std::srand(static_cast<unsigned>(random()));
                try {
                    sample = drawSample(recipe);
                } catch (const std::exception&) {
                    // Too long for this ring count at this pitch: a shorter text.
                    recipe.text.resize(4);
                    sample = drawSample(recipe);
                }
                const Reading reading = read(level.degrade(sample.image, random), recipe.colour ? Color : BlackAndWhite,
                                             recipe.layout);
                if (reading.success && reading.text == sample.text) ++passed;
            }
            std::cout << group.name << "\t" << level.name << "\t" << passed << "/" << count << std::endl;
        }
    }
    return 0;
}
