// The camera loop's per-frame work (modifications, code area, decode) on a
// 1280 x 720 clip of a card with a code moving in front of a still
// background, without a window. Reports frames per second and the share of
// frames in which the code was read; the soak run also reports the memory
// held after its first 100 frames and at its end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <sstream>
#include <unistd.h>

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

constexpr int kSoakFrames = 10000;
constexpr int kSoakSettleFrames = 100;
constexpr double kSoakAllowedGrowthMb = 5;

double megabytes(double bytes) { return bytes / (1024.0 * 1024.0); }

// Resident set size of the process.
double residentMb()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return megabytes(static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)));
}

// Heap in use, counted by the allocator: unlike the resident size it does
// not lag behind memory that was freed.
double heapMb()
{
    const struct mallinfo2 info = mallinfo2();
    return megabytes(static_cast<double>(info.uordblks + info.hblkhd));
}

// Many laps of the clip: whatever one frame's work leaves behind adds up, so
// the memory at the end must stay within a few MB of that after the start.
void BM_CameraLoopSoak(benchmark::State& bench)
{
    std::srand(1);
    app::CodeAreaFinder finder;
    app::CameraRunState state;
    state.measuring = false;
    state.startTicks = app::currentTicks();
    std::ostringstream output;
    int index = 0;
    double settledResident = 0, settledHeap = 0;
    for (auto _ : bench) {
        bench.PauseTiming();
        cv::Mat frame = clipFrame(index);
        bench.ResumeTiming();
        app::processCameraFrame(state, frame, finder, output);
        if (++index == kSoakSettleFrames) {
            settledResident = residentMb();
            settledHeap = heapMb();
        }
        output.str(""); // the console would not keep the lines either
    }
    const double endResident = residentMb();
    const double endHeap = heapMb();
    bench.SetItemsProcessed(bench.iterations());
    bench.counters["rss_100_mb"] = settledResident;
    bench.counters["rss_end_mb"] = endResident;
    bench.counters["heap_100_mb"] = settledHeap;
    bench.counters["heap_end_mb"] = endHeap;
    if (endResident - settledResident > kSoakAllowedGrowthMb || endHeap - settledHeap > kSoakAllowedGrowthMb)
        bench.SkipWithError("memory grew by more than a few MB over the soak run");
}

} // namespace

BENCHMARK(BM_CameraLoopSoak)->Iterations(kSoakFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFramePlain)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFramePerspective1)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameBinarized)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameEnhanced)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameStill)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
