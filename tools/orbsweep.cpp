// Reads many drawn codes under one degradation at a time and prints the pass
// rate per level: the long sweeps that do not fit the test suite.
//   orbsweep [--count N] [--seed S] [--group NAME]
// With --scenes, codes on cards in photographs, read with the finder, by
// code size and camera fault; --csv and --plot write the table and a chart.
//   orbsweep --scenes [--count N] [--seed S] [--csv FILE] [--plot FILE.png]
// With --categories, scenes by camera fault at levels from easy to broken,
// each beside its QR twin read by zxing-cpp: our rate and the twin's.
//   orbsweep --categories [--count N per level] [--category A,B] [--threads N]
//            [--csv FILE] [--plot FILE.png]   (default docs/categories.*; the plot
//            goes beside a --csv named without --plot)
//            [--save FOLDER]   (every scene and its twin as PNG)
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <fstream>
#include <map>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/image_modification.h"
#include "orb/decoder_configuration.h"
#include "orb/logger.h"
#include "orb/payload/payload_types.h"
#include "orb/reader.h"
#include "support/category_scenes.h"
#include "support/code_samples.h"
#include "support/photo_scenes.h"
#include "support/qr_twin.h"

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

const double kSceneShares[] = {0.9, 0.7, 0.5, 0.35, 0.25, 0.15, 0.10};
const cv::Size kSceneFrames[] = {{1280, 720}, {1920, 1080}, {3000, 4000}, {4000, 3000}};

struct FaultLine {
    std::string name;
    SceneFaults faults;
};

std::vector<FaultLine> faultLines()
{
    const SceneFaults none{false, false, false, 0};
    std::vector<FaultLine> lines = {{"turned", none}, {"perspective", none}, {"light", none},
                                    {"blur+noise", none}, {"jpeg", none}, {"all", {true, true, true, 60}}};
    lines[1].faults.perspective = true;
    lines[2].faults.light = true;
    lines[3].faults.blurAndNoise = true;
    lines[4].faults.jpegQuality = 60;
    return lines;
}

// Pass rate against code size, one line per fault, drawn with OpenCV.
void plotScenes(const std::vector<FaultLine>& lines, const std::map<std::string, std::vector<double>>& rates,
                const std::string& file)
{
    const int width = 900, height = 560, left = 70, right = 180, top = 40, bottom = 60;
    cv::Mat plot(height, width, CV_8UC3, cv::Scalar::all(255));
    const auto px = [&](double share) { return left + static_cast<int>((share - 0.05) / 0.9 * (width - left - right)); };
    const auto py = [&](double rate) { return top + static_cast<int>((1 - rate) * (height - top - bottom)); };
    for (int k = 0; k <= 10; ++k) {
        const double rate = k / 10.0;
        cv::line(plot, {left, py(rate)}, {width - right, py(rate)}, cv::Scalar::all(225));
        cv::putText(plot, std::to_string(k * 10) + "%", {18, py(rate) + 5}, cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar::all(60));
    }
    for (const double share : kSceneShares) {
        cv::line(plot, {px(share), top}, {px(share), height - bottom}, cv::Scalar::all(225));
        std::ostringstream label;
        label << share;
        cv::putText(plot, label.str(), {px(share) - 12, height - bottom + 20}, cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar::all(60));
    }
    cv::putText(plot, "code diameter / short side of the frame", {left + 160, height - 15}, cv::FONT_HERSHEY_SIMPLEX, 0.5,
                cv::Scalar::all(30));
    cv::putText(plot, "codes read in photo scenes", {left, 25}, cv::FONT_HERSHEY_SIMPLEX, 0.6, cv::Scalar::all(30));
    const cv::Scalar colours[] = {{180, 80, 30}, {40, 140, 40}, {30, 30, 200}, {160, 40, 160}, {20, 150, 200}, {0, 0, 0}};
    int index = 0;
    for (const FaultLine& line : lines) {
        const cv::Scalar colour = colours[index % 6];
        const std::vector<double>& values = rates.at(line.name);
        for (std::size_t k = 0; k < values.size(); ++k) {
            const cv::Point point(px(kSceneShares[k]), py(values[k]));
            cv::circle(plot, point, 4, colour, cv::FILLED, cv::LINE_AA);
            if (k > 0) cv::line(plot, {px(kSceneShares[k - 1]), py(values[k - 1])}, point, colour, 2, cv::LINE_AA);
        }
        const int y = top + 20 + 24 * index;
        cv::line(plot, {width - right + 15, y}, {width - right + 45, y}, colour, 2, cv::LINE_AA);
        cv::putText(plot, line.name, {width - right + 52, y + 5}, cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar::all(30));
        ++index;
    }
    cv::imwrite(file, plot);
}

// Codes on cards in photographs: pass rate per code size and camera fault.
int sweepScenes(int count, unsigned seed, const std::string& csvFile, const std::string& plotFile)
{
    const std::vector<cv::Mat> photos = loadPhotos();
    if (photos.empty()) {
        std::cerr << "no photographs found\n";
        return 1;
    }
    const std::vector<FaultLine> lines = faultLines();
    std::map<std::string, std::vector<double>> rates;
    std::ofstream csv;
    if (!csvFile.empty()) {
        csv.open(csvFile);
        csv << "fault,share,read,misread,count\n";
    }
    std::cout << "fault\tshare\tread\tmisread" << std::endl;
    for (const FaultLine& line : lines) {
        for (const double share : kSceneShares) {
            int read = 0, misread = 0;
            for (int i = 0; i < count; ++i) {
                SceneRecipe recipe;
                recipe.frame = kSceneFrames[i % 4];
                recipe.codeShares = {share};
                recipe.faults = line.faults;
                recipe.seed = seed + static_cast<unsigned>(i * 7919 + share * 1000);
                const Scene scene = makeScene(photos[(i + static_cast<int>(share * 100)) % photos.size()], recipe);
                const ReadResult result = readCode(scene.image);
                if (result && result.text() == scene.codes[0].text) ++read;
                else if (result) ++misread;
            }
            rates[line.name].push_back(static_cast<double>(read) / count);
            std::cout << line.name << "\t" << share << "\t" << read << "/" << count << "\t" << misread << std::endl;
            if (csv) csv << line.name << "," << share << "," << read << "," << misread << "," << count << "\n";
        }
    }
    if (!plotFile.empty()) plotScenes(lines, rates, plotFile);
    return 0;
}

struct LevelReads {
    int scenes = 0;
    TwinReads reads;
};

// One small panel per category: read rate against level, ours and the twin's.
void plotCategories(const std::vector<const Category*>& categories, const std::vector<std::vector<LevelReads>>& table,
                    const std::string& file)
{
    const int panelWidth = 360, panelHeight = 250, columns = 3;
    const int rows = (static_cast<int>(categories.size()) + columns - 1) / columns;
    cv::Mat figure(rows * panelHeight, columns * panelWidth, CV_8UC3, cv::Scalar::all(255));
    const cv::Scalar ours(180, 80, 30), twin(30, 120, 230), ink = cv::Scalar::all(40), grid = cv::Scalar::all(225);
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    for (std::size_t c = 0; c < categories.size(); ++c) {
        const Category& category = *categories[c];
        cv::Mat panel = figure(cv::Rect(static_cast<int>(c % columns) * panelWidth, static_cast<int>(c / columns) * panelHeight,
                                        panelWidth, panelHeight));
        const int left = 48, right = panelWidth - 16, top = 32, bottom = panelHeight - 52;
        const std::size_t count = category.levels.size();
        const auto px = [&](std::size_t k) {
            return count < 2 ? (left + right) / 2 : left + static_cast<int>(k * (right - left) / (count - 1));
        };
        const auto py = [&](double rate) { return bottom - static_cast<int>(rate * (bottom - top)); };
        cv::putText(panel, category.name, {left, 20}, font, 0.55, ink, 1, cv::LINE_AA);
        for (int k = 0; k <= 4; ++k) {
            cv::line(panel, {left, py(k / 4.0)}, {right, py(k / 4.0)}, grid);
            if (k % 2 == 0)
                cv::putText(panel, std::to_string(k * 25) + "%", {4, py(k / 4.0) + 4}, font, 0.38, ink, 1, cv::LINE_AA);
        }
        cv::line(panel, {left, top}, {left, bottom}, ink);
        cv::line(panel, {left, bottom}, {right, bottom}, ink);
        for (std::size_t k = 0; k < count; ++k) {
            cv::line(panel, {px(k), bottom}, {px(k), bottom + 4}, ink);
            const std::string& label = category.levels[k].label;
            const int width = cv::getTextSize(label, font, 0.38, 1, nullptr).width;
            cv::putText(panel, label, {px(k) - width / 2, bottom + 17}, font, 0.38, ink, 1, cv::LINE_AA);
        }
        const int axisWidth = cv::getTextSize(category.axis, font, 0.38, 1, nullptr).width;
        cv::putText(panel, category.axis, {(left + right - axisWidth) / 2, bottom + 36}, font, 0.38, ink, 1, cv::LINE_AA);
        for (const bool isTwin : {true, false}) {
            const cv::Scalar colour = isTwin ? twin : ours;
            for (std::size_t k = 0; k < count; ++k) {
                const TwinReads& reads = table[c][k].reads;
                const double rate = reads.codes ? double(isTwin ? reads.twin : reads.ours) / reads.codes : 0;
                const cv::Point point(px(k), py(rate));
                if (isTwin) cv::rectangle(panel, point - cv::Point(4, 4), point + cv::Point(4, 4), colour, cv::FILLED);
                else cv::circle(panel, point, 4, colour, cv::FILLED, cv::LINE_AA);
                if (k > 0) {
                    const TwinReads& before = table[c][k - 1].reads;
                    const double last = before.codes ? double(isTwin ? before.twin : before.ours) / before.codes : 0;
                    cv::line(panel, {px(k - 1), py(last)}, point, colour, 2, cv::LINE_AA);
                }
            }
        }
        // Legend, top right.
        cv::line(panel, {right - 150, 16}, {right - 130, 16}, ours, 2, cv::LINE_AA);
        cv::putText(panel, "ours", {right - 125, 20}, font, 0.4, ink, 1, cv::LINE_AA);
        cv::line(panel, {right - 80, 16}, {right - 60, 16}, twin, 2, cv::LINE_AA);
        cv::putText(panel, "QR twin", {right - 55, 20}, font, 0.4, ink, 1, cv::LINE_AA);
    }
    cv::imwrite(file, figure);
}

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> names;
    std::stringstream stream(list);
    for (std::string name; std::getline(stream, name, ',');)
        if (!name.empty()) names.push_back(name);
    return names;
}

// Every category (or those in `filter`) at every level, `count` scenes each,
// read on `threads` threads; prints and writes the table and the plots.
int sweepCategories(int count, const std::string& filter, int threads, const std::string& csvFile,
                    const std::string& plotFile, const std::string& saveFolder)
{
    const std::vector<cv::Mat> photos = loadPhotos();
    if (photos.empty()) {
        std::cerr << "no photographs found\n";
        return 1;
    }
    std::vector<const Category*> categories;
    try {
        if (filter.empty())
            for (const Category& category : sceneCategories()) categories.push_back(&category);
        else
            for (const std::string& name : split(filter)) categories.push_back(&sceneCategory(name));
    } catch (const std::out_of_range& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    // Opened before the sweep: a long run must not end in "cannot write".
    std::ofstream csv(csvFile);
    if (!csv) {
        std::cerr << "cannot write " << csvFile << "\n";
        return 1;
    }
    struct Job {
        std::size_t category, level;
        int index;
    };
    std::vector<Job> jobs;
    std::vector<std::vector<LevelReads>> table;
    for (std::size_t c = 0; c < categories.size(); ++c) {
        table.emplace_back(categories[c]->levels.size());
        for (std::size_t l = 0; l < categories[c]->levels.size(); ++l)
            for (int i = 0; i < count; ++i) jobs.push_back({c, l, i});
    }
    threads = std::max(1, threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency()));
    // Scenes in parallel: OpenCV's own threads would only compete with them.
    if (threads > 1) cv::setNumThreads(1);
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t done = 0;
    std::string failure;
    const auto work = [&] {
        for (std::size_t j; (j = next++) < jobs.size();) {
            const Job& job = jobs[j];
            TwinReads reads;
            try {
                const TwinScene scene = makeCategoryScene(photos, *categories[job.category], job.level, job.index, qrSymbol);
                reads = readTwinScene(scene);
                if (!saveFolder.empty()) {
                    const std::string name = saveFolder + "/" + categories[job.category]->name + "-" +
                                             std::to_string(job.level) + "-" + std::to_string(job.index);
                    cv::imwrite(name + ".png", scene.scene.image);
                    if (!scene.twin.empty()) cv::imwrite(name + "-twin.png", scene.twin);
                }
            } catch (const std::exception& e) {
                const std::lock_guard<std::mutex> guard(lock);
                failure = categories[job.category]->name + ": " + e.what();
                continue;
            }
            const std::lock_guard<std::mutex> guard(lock);
            LevelReads& cell = table[job.category][job.level];
            ++cell.scenes;
            cell.reads.codes += reads.codes;
            cell.reads.ours += reads.ours;
            cell.reads.twin += reads.twin;
            cell.reads.misread += reads.misread;
            std::cerr << "\r" << ++done << "/" << jobs.size() << " scenes" << std::flush;
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& thread : pool) thread.join();
    std::cerr << "\n";
    if (!failure.empty()) {
        std::cerr << "a scene could not be made: " << failure << "\n";
        return 1;
    }

    csv << "category,level,value,scenes,codes,ours,twin,misread\n";
    std::cout << "category\tlevel\tours\tQR twin\tmisread" << std::endl;
    for (std::size_t c = 0; c < categories.size(); ++c)
        for (std::size_t l = 0; l < categories[c]->levels.size(); ++l) {
            const CategoryLevel& level = categories[c]->levels[l];
            const LevelReads& cell = table[c][l];
            std::cout << categories[c]->name << "\t" << level.label << "\t" << cell.reads.ours << "/" << cell.reads.codes
                      << "\t" << cell.reads.twin << "/" << cell.reads.codes << "\t" << cell.reads.misread << std::endl;
            csv << categories[c]->name << "," << level.label << "," << level.value << "," << cell.scenes << ","
                << cell.reads.codes << "," << cell.reads.ours << "," << cell.reads.twin << "," << cell.reads.misread << "\n";
        }
    plotCategories(categories, table, plotFile);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 24;
    unsigned seed = 7;
    std::string only;
    bool scenes = false, categories = false;
    int threads = 0;
    bool countGiven = false;
    std::string csvFile, plotFile, categoryFilter, saveFolder;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--scenes")) scenes = true;
        else if (!std::strcmp(argv[i], "--categories")) categories = true;
        else if (!std::strcmp(argv[i], "--category") && i + 1 < argc) categoryFilter = argv[++i];
        else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc) threads = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--save") && i + 1 < argc) saveFolder = argv[++i];
        else if (!std::strcmp(argv[i], "--csv") && i + 1 < argc) csvFile = argv[++i];
        else if (!std::strcmp(argv[i], "--plot") && i + 1 < argc) plotFile = argv[++i];
        else if (!std::strcmp(argv[i], "--count") && i + 1 < argc) {
            count = std::atoi(argv[++i]);
            countGiven = true;
        }
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--group") && i + 1 < argc) only = argv[++i];
        else {
            std::cerr << "usage: orbsweep [--count N] [--seed S] [--group NAME]\n"
                         "       orbsweep --scenes [--count N] [--seed S] [--csv FILE] [--plot FILE.png]\n"
                         "       orbsweep --categories [--count N] [--category A,B] [--threads N] [--csv FILE]"
                         " [--plot FILE.png] [--save FOLDER]\n";
            return 2;
        }
    }
    logger().setConsoleLevel(static_cast<int>(LogLevel::Off));
    if (scenes) return sweepScenes(count, seed, csvFile, plotFile);
    if (categories) {
        // A table named elsewhere keeps its plot beside it, so a trial sweep
        // never overwrites the committed docs/ figures.
        if (csvFile.empty()) csvFile = "docs/categories.csv";
        if (plotFile.empty()) plotFile = std::filesystem::path(csvFile).replace_extension(".png").string();
        return sweepCategories(countGiven ? count : 6, categoryFilter, threads, csvFile, plotFile, saveFolder);
    }
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
