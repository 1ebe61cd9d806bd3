// Time of one decode of a 1280x720 frame holding a code of 32 modules per
// ring and 6 rings, whole and stage by stage. Run with
// --benchmark_repetitions=9 --benchmark_report_aggregates_only=true for medians.
#include <benchmark/benchmark.h>

#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/detection/inner_zebra.h"
#include "orb/detection/outer_zebra.h"
#include "orb/detection/radial_zebra.h"
#include "orb/detection/start_marker.h"
#include "orb/geometry/inner_circle.h"
#include "orb/geometry/image_corrections.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"
#include "orb/payload/grid_reader.h"
#include "orb/payload/payload_decoder.h"
#include "orb/reader.h"
#include "support/code_samples.h"

using namespace orb;
using namespace orb::samples;

namespace {

const DecoderConfiguration kConfig;

cv::Mat frame(bool mildPerspective)
{
    SampleRecipe recipe;
    recipe.modulesPerRing = 32;
    recipe.ringCount = 6;
    recipe.pitch = 16;
    recipe.startAngle = 0.7;
    recipe.text = "ScanBench 1.23";
    cv::Mat image = drawSample(recipe).image;
    if (mildPerspective) {
        std::mt19937 random(5);
        image = perspective(image, 0.05, random);
    }
    return image;
}

// Preprocessing as the pipeline does it for a black-and-white code: grey,
// enhanced, binarised.
cv::Mat preprocessed(const cv::Mat& image)
{
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    return binarizeImage(enhanceImage(grey, BlackAndWhite), BlackAndWhite);
}

// The head-on frame at full size, or halved (640x360) as a large frame is
// read first.
cv::Mat stageFrame(bool half)
{
    cv::Mat image = frame(false);
    if (half) cv::resize(image, image, cv::Size(image.cols / 2, image.rows / 2), 0, 0, cv::INTER_LINEAR);
    return image;
}

// The binarised head-on frame after the inner circle search, which the
// structure stages start from, and what the earlier stages found in it.
struct Staged {
    cv::Mat binary;
    double R = 0;
    int modulesPerRing = 0;
    StartMarkerCandidate marker;
    RingGrid grid;
};

Staged makeStaged(bool half)
{
    Staged st;
    const cv::Mat image = stageFrame(half);
    st.binary = preprocessed(image);
    const cv::RotatedRect circle = findCircle(st.binary, kConfig).value;
    st.R = std::max(circle.size.width, circle.size.height) / 2.0f;
    st.modulesPerRing = findInnerZebra(st.binary, st.R)->count * 4;
    const auto candidates = findStartMarkers(st.binary, st.R + 5, st.modulesPerRing, false);
    if (!candidates.empty()) st.marker = candidates.front();
    const RadialZebraSearch search = makeRadialZebraSearch(st.binary, st.marker.marker, st.modulesPerRing);
    st.grid = findRadialZebra(search, st.marker.marker.angle - search.step);
    return st;
}

// range(0) of a stage benchmark: 1 for the halved frame.
const Staged& staged(const benchmark::State& state)
{
    static const Staged full = makeStaged(false);
    static const Staged half = makeStaged(true);
    return state.range(0) == 1 ? half : full;
}

void quiet() { logger().setConsoleLevel(static_cast<int>(LogLevel::Off)); }

void BM_DecodeHeadOn(benchmark::State& state)
{
    quiet();
    const cv::Mat image = frame(false);
    for (auto _ : state) benchmark::DoNotOptimize(decode(kConfig, image, true));
}
BENCHMARK(BM_DecodeHeadOn)->Unit(benchmark::kMillisecond);

void BM_DecodeMildPerspective(benchmark::State& state)
{
    quiet();
    const cv::Mat image = frame(true);
    for (auto _ : state) benchmark::DoNotOptimize(decode(kConfig, image, true));
}
BENCHMARK(BM_DecodeMildPerspective)->Unit(benchmark::kMillisecond);

// The reader API on the same frame: with every code type and layout allowed
// it must cost what decode costs, since a black-and-white code in the
// default layout reads on the first try. Compare with BM_DecodeHeadOn.
void BM_ReadCodeHeadOn(benchmark::State& state)
{
    quiet();
    const cv::Mat image = frame(false);
    for (auto _ : state) benchmark::DoNotOptimize(readCode(image));
}
BENCHMARK(BM_ReadCodeHeadOn)->Unit(benchmark::kMillisecond);

// What trying more costs where the first try fails: a colour code and a
// scrambled one, each read with everything allowed.
void BM_ReadCodeTryAll(benchmark::State& state)
{
    quiet();
    const char* file = state.range(0) == 0 ? "/examples/colour-48.png" : "/examples/scrambled-64.png";
    const cv::Mat image = cv::imread(std::string(ORB_SOURCE_DIR) + file);
    for (auto _ : state) benchmark::DoNotOptimize(readCode(image));
    state.SetLabel(state.range(0) == 0 ? "colour-48" : "scrambled-64");
}
BENCHMARK(BM_ReadCodeTryAll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// At half size as the pipeline does it: grey at full size, then halved.
void BM_StagePreprocessing(benchmark::State& state)
{
    quiet();
    const cv::Mat image = frame(false);
    const bool half = state.range(0) == 1;
    for (auto _ : state) {
        if (!half) {
            benchmark::DoNotOptimize(preprocessed(image));
            continue;
        }
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        cv::resize(grey, grey, cv::Size(grey.cols / 2, grey.rows / 2), 0, 0, cv::INTER_LINEAR);
        benchmark::DoNotOptimize(binarizeImage(enhanceImage(grey, BlackAndWhite), BlackAndWhite));
    }
}
BENCHMARK(BM_StagePreprocessing)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageInnerCircle(benchmark::State& state)
{
    quiet();
    const cv::Mat binary = preprocessed(stageFrame(state.range(0) == 1));
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat work = binary.clone();
        state.ResumeTiming();
        benchmark::DoNotOptimize(findCircle(work, kConfig));
    }
}
BENCHMARK(BM_StageInnerCircle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageInnerZebra(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    for (auto _ : state) benchmark::DoNotOptimize(findInnerZebra(s.binary, s.R));
}
BENCHMARK(BM_StageInnerZebra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageStartMarker(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    for (auto _ : state) benchmark::DoNotOptimize(findStartMarkers(s.binary, s.R + 5, s.modulesPerRing, false));
}
BENCHMARK(BM_StageStartMarker)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageOuterZebra(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    for (auto _ : state) benchmark::DoNotOptimize(findOuterZebra(s.binary, s.modulesPerRing, s.marker.marker.barEnd));
}
BENCHMARK(BM_StageOuterZebra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageRadialZebra(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    const RadialZebraSearch search = makeRadialZebraSearch(s.binary, s.marker.marker, s.modulesPerRing);
    for (auto _ : state) benchmark::DoNotOptimize(findRadialZebra(search, s.marker.marker.angle - search.step));
}
BENCHMARK(BM_StageRadialZebra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_StageFinalTransform(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    const cv::Mat image = stageFrame(state.range(0) == 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(finalTransform({kConfig, s.binary}, image, cv::Matx33d::eye(), s.marker.marker));
}
BENCHMARK(BM_StageFinalTransform)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Grid reading with its five-mask payload loop, on the warped image.
void BM_StageGridReading(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    const cv::Mat warped = finalTransform({kConfig, s.binary}, stageFrame(state.range(0) == 1), cv::Matx33d::eye(), s.marker.marker);
    const std::vector<std::int32_t> layouts{kConfig.layout};
    Found<GridReading> read;
    for (auto _ : state) {
        read = readGridData({kConfig, warped}, s.modulesPerRing, s.marker.marker.angle, s.grid, layouts);
        benchmark::DoNotOptimize(read);
    }
    if (!read) state.SkipWithError("grid reading failed on the staged frame");
}
BENCHMARK(BM_StageGridReading)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The final transform and grid reading together, range(1) = 0 as the
// warped image, 1 as the ring warped only where grid reading samples it.
void BM_StageWarpAndGridReading(benchmark::State& state)
{
    quiet();
    const Staged& s = staged(state);
    const cv::Mat image = stageFrame(state.range(0) == 1);
    const std::vector<std::int32_t> layouts{kConfig.layout};
    const StartMarker& marker = s.marker.marker;
    Found<GridReading> read;
    for (auto _ : state) {
        if (state.range(1) == 0) {
            const cv::Mat warped = finalTransform({kConfig, s.binary}, image, cv::Matx33d::eye(), marker);
            read = readGridData({kConfig, warped}, s.modulesPerRing, marker.angle, s.grid, layouts);
        } else {
            const WarpedRing warped({kConfig, s.binary}, image, cv::Matx33d::eye(), marker);
            read = readGridData(kConfig, warped.pixels(), s.modulesPerRing, marker.angle, s.grid, layouts);
        }
        benchmark::DoNotOptimize(read);
    }
    if (!read) state.SkipWithError("grid reading failed on the staged frame");
}
BENCHMARK(BM_StageWarpAndGridReading)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
