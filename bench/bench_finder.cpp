// What the code finder costs on a 1920x1080 photograph, with no code and
// with a small one (0.15 of the short side), beside one decode of the same
// frame. The "perDecode" counter is the finder's time over decode's.
// The reader benchmarks time readCode with its default options on every
// photograph without a code and on photo scenes with one code, each beside
// the read of one drawn 640 px code in the same run ("per_code_read").
//   bench_finder --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/finder/code_finder.h"
#include "orb/logger.h"
#include "orb/reader.h"
#include "support/code_samples.h"
#include "support/photo_scenes.h"

using namespace orb;
using namespace orb::samples;

namespace {

void quiet() { logger().setConsoleLevel(static_cast<int>(LogLevel::Off)); }

const cv::Mat& emptyPhoto()
{
    static const cv::Mat frame = codeFreeScenes(loadPhotos().at(0), {1920, 1080}, 3).front();
    return frame;
}

const cv::Mat& smallCodePhoto()
{
    static const cv::Mat frame = [] {
        SceneRecipe recipe;
        recipe.frame = {1920, 1080};
        recipe.codeShares = {0.15};
        recipe.faults.jpegQuality = 80;
        recipe.seed = 11;
        return makeScene(loadPhotos().at(1), recipe).image;
    }();
    return frame;
}

// Median time of one decode of `frame`, seconds (a failed one included).
double decodeSeconds(const cv::Mat& frame)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        const auto start = std::chrono::steady_clock::now();
        try {
            decode(DecoderConfiguration(), frame, true);
        } catch (const OCException&) {
        }
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + 3, times.end());
    return times[3];
}

void findIn(benchmark::State& state, const cv::Mat& frame)
{
    quiet();
    const double decodeTime = decodeSeconds(frame);
    std::size_t found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        found = findCodeCandidates(frame).size();
        benchmark::DoNotOptimize(found);
    }
    const double each = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                        static_cast<double>(state.iterations());
    state.counters["candidates"] = static_cast<double>(found);
    state.counters["perDecode"] = each / decodeTime;
}

void BM_FinderEmptyPhoto(benchmark::State& state) { findIn(state, emptyPhoto()); }
BENCHMARK(BM_FinderEmptyPhoto)->Unit(benchmark::kMillisecond);

void BM_FinderSmallCodePhoto(benchmark::State& state) { findIn(state, smallCodePhoto()); }
BENCHMARK(BM_FinderSmallCodePhoto)->Unit(benchmark::kMillisecond);

void decodeOnce(benchmark::State& state, const cv::Mat& frame)
{
    quiet();
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(decode(DecoderConfiguration(), frame, true));
        } catch (const OCException&) {
        }
    }
}

void BM_DecodeEmptyPhoto(benchmark::State& state) { decodeOnce(state, emptyPhoto()); }
BENCHMARK(BM_DecodeEmptyPhoto)->Unit(benchmark::kMillisecond);

void BM_DecodeSmallCodePhoto(benchmark::State& state) { decodeOnce(state, smallCodePhoto()); }
BENCHMARK(BM_DecodeSmallCodePhoto)->Unit(benchmark::kMillisecond);

// The whole fallback: the plain read, the search, and reading what it found.
void readWithFinder(benchmark::State& state, const cv::Mat& frame, bool expectCode)
{
    quiet();
    ReaderOptions options;
    options.codeTypes = std::vector{CodeType::BlackAndWhite};
    bool read = false;
    for (auto _ : state) {
        read = static_cast<bool>(readCode(frame, options));
        benchmark::DoNotOptimize(read);
    }
    if (read != expectCode) state.SkipWithError(expectCode ? "the small code did not read" : "read a code in an empty photo");
}

void BM_ReadCodeEmptyPhoto(benchmark::State& state) { readWithFinder(state, emptyPhoto(), false); }
BENCHMARK(BM_ReadCodeEmptyPhoto)->Unit(benchmark::kMillisecond);

void BM_ReadCodeSmallCodePhoto(benchmark::State& state) { readWithFinder(state, smallCodePhoto(), true); }
BENCHMARK(BM_ReadCodeSmallCodePhoto)->Unit(benchmark::kMillisecond);

// Every photograph, as a 1280x720 frame without a code.
const std::vector<cv::Mat>& codeFreePhotos()
{
    static const std::vector<cv::Mat> frames = [] {
        std::vector<cv::Mat> resized;
        for (const cv::Mat& photo : loadPhotos()) {
            cv::Mat frame;
            cv::resize(photo, frame, cv::Size(1280, 720), 0, 0, cv::INTER_AREA);
            resized.push_back(frame);
        }
        return resized;
    }();
    return frames;
}

// 1280x720 photo scenes with one code each, of every size class the scene
// sweep uses, on different photographs.
const std::vector<Scene>& oneCodeScenes()
{
    static const std::vector<Scene> scenes = [] {
        const std::vector<cv::Mat> photos = loadPhotos();
        const double shares[] = {0.9, 0.5, 0.25, 0.15, 0.1};
        std::vector<Scene> made;
        for (std::size_t i = 0; i < 10; ++i) {
            SceneRecipe recipe;
            recipe.codeShares = {shares[i % std::size(shares)]};
            recipe.faults.jpegQuality = 85;
            recipe.seed = static_cast<unsigned>(31 + i);
            made.push_back(makeScene(photos.at(i % photos.size()), recipe));
        }
        return made;
    }();
    return scenes;
}

// The reference read: one 640 px code of 9 rings in a 1280x720 frame.
const cv::Mat& drawnCodeFrame()
{
    static const cv::Mat frame = [] {
        SampleRecipe recipe;
        recipe.ringCount = 9;
        recipe.pitch = 640.0 / 28;
        recipe.text = "SCANBENCH SIDE BY SIDE 26.";
        return drawSample(recipe).image;
    }();
    return frame;
}

template <typename F>
double millisecondsOf(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Each iteration reads the drawn code once and every frame of `frames` once,
// so machine load hits both alike. Counters: the mean ms per frame, the
// reference read's median ms, their ratio, and how many frames read.
template <typename Frames, typename ImageOf>
void readBesideCode(benchmark::State& state, const Frames& frames, ImageOf imageOf)
{
    quiet();
    if (!readCode(drawnCodeFrame())) return state.SkipWithError("the drawn code did not read");
    std::vector<double> perFrame, reference;
    int read = 0;
    for (auto _ : state) {
        reference.push_back(millisecondsOf([&] { benchmark::DoNotOptimize(readCode(drawnCodeFrame())); }));
        read = 0;
        perFrame.push_back(millisecondsOf([&] {
                               for (const auto& frame : frames) read += readCode(imageOf(frame)) ? 1 : 0;
                           }) /
                           static_cast<double>(frames.size()));
    }
    state.counters["frame_ms"] = median(perFrame);
    state.counters["code_ms"] = median(reference);
    state.counters["per_code_read"] = median(perFrame) / median(reference);
    state.counters["read"] = read;
    state.counters["frames"] = static_cast<double>(frames.size());
}

void BM_ReaderRejectsPhotos(benchmark::State& state)
{
    readBesideCode(state, codeFreePhotos(), [](const cv::Mat& frame) -> const cv::Mat& { return frame; });
}
BENCHMARK(BM_ReaderRejectsPhotos)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReaderReadsScenes(benchmark::State& state)
{
    readBesideCode(state, oneCodeScenes(), [](const Scene& scene) -> const cv::Mat& { return scene.image; });
}
BENCHMARK(BM_ReaderReadsScenes)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
