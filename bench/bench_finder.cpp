// What the code finder costs on a 1920x1080 photograph, with no code and
// with a small one (0.15 of the short side), beside one decode of the same
// frame. The "perDecode" counter is the finder's time over decode's.
//   bench_finder --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "orb/decoder.h"
#include "orb/finder/code_finder.h"
#include "orb/logger.h"
#include "orb/reader.h"
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
    options.codeTypes = CodeTypes::BlackAndWhite;
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

} // namespace

BENCHMARK_MAIN();
