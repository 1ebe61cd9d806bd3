// The camera loop's per-frame work (modifications, code area, decode) on a
// 1280 x 720 clip of a card with a code moving in front of a still
// background, without a window. Reports frames per second and the share of
// frames in which the code was read.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "app/camera_loop.h"
#include "app/file_mode.h"
#include "tests/app/camera_clip.h"

namespace {

constexpr int kClipFrames = 300;
const cv::Size kFrameSize(1280, 720);

const cv::Mat& card()
{
    static const cv::Mat image = testing_support::codeCard(testing_support::kClipText, 400, 12);
    return image;
}

// Frame `index` of the clip: the card circles the frame centre once in 70
// frames, 13 to 31 pixels per frame, as a hand-held card moves.
cv::Mat clipFrame(int index)
{
    const double angle = 2 * CV_PI * index / 70;
    const cv::Point centre(kFrameSize.width / 2 + static_cast<int>(std::lround(350 * std::cos(angle))),
                           kFrameSize.height / 2 + static_cast<int>(std::lround(150 * std::sin(angle))));
    return testing_support::sceneFrame(kFrameSize, card(), centre - cv::Point(200, 200));
}

void playClip(benchmark::State& bench, app::CameraRunState state)
{
    std::srand(1);
    app::CodeAreaFinder finder;
    state.measuring = false;
    state.startTicks = app::currentTicks();
    std::ostringstream output;
    int index = 0;
    for (auto _ : bench) {
        bench.PauseTiming();
        cv::Mat frame = clipFrame(index++);
        bench.ResumeTiming();
        app::processCameraFrame(state, frame, finder, output);
        benchmark::DoNotOptimize(frame.data);
    }
    std::size_t decoded = 0;
    const std::string text = output.str();
    for (std::size_t at = text.find("Output:\tHELLO CAMERA\n"); at != std::string::npos;
         at = text.find("Output:\tHELLO CAMERA\n", at + 1))
        ++decoded;
    bench.SetItemsProcessed(bench.iterations());
    bench.counters["frames"] = static_cast<double>(bench.iterations());
    bench.counters["decoded_share"] = static_cast<double>(decoded) / bench.iterations();
}

void BM_CameraFramePlain(benchmark::State& bench) { playClip(bench, {}); }

void BM_CameraFramePerspective1(benchmark::State& bench)
{
    app::CameraRunState state;
    state.levels.perspective = 1 / 20.0;
    playClip(bench, state);
}

void BM_CameraFrameBinarized(benchmark::State& bench)
{
    app::CameraRunState state;
    state.binarized = true;
    playClip(bench, state);
}

void BM_CameraFrameEnhanced(benchmark::State& bench)
{
    app::CameraRunState state;
    state.enhanced = true;
    playClip(bench, state);
}

// A still scene costs only the grey conversion and the difference test.
void BM_CameraFrameStill(benchmark::State& bench)
{
    app::CodeAreaFinder finder;
    app::CameraRunState state;
    const cv::Mat still = clipFrame(0);
    std::ostringstream output;
    finder.find(still); // the first frame is read whole; only later ones are still
    for (auto _ : bench) {
        cv::Mat frame = still.clone();
        app::processCameraFrame(state, frame, finder, output);
    }
    bench.SetItemsProcessed(bench.iterations());
}

} // namespace

BENCHMARK(BM_CameraFramePlain)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFramePerspective1)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameBinarized)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameEnhanced)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameStill)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
