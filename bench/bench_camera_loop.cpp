// The camera loop's per-frame work (modifications, code area, decode) on a
// 1280 x 720 clip of a card with a code moving in front of a still
// background, without a window. Reports frames per second and the share of
// frames in which the code was read; the soak run also reports the memory
// held after its first 100 frames and at its end, and the hand-held runs the
// share of frames read beside file mode.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <map>
#include <random>
#include <sstream>
#include <unistd.h>

#include <opencv2/imgproc.hpp>

#include "app/camera_loop.h"
#include "app/file_mode.h"
#include "orb/decoder.h"
#include "orb/logger.h"
#include "support/photo_scenes.h"
#include "support/camera_clip.h"

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

// A still scene: the grey conversion, the difference test, and the
// whole-frame search of the code finder.
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

// A hand-held camera over a photo scene with a card: the whole view shakes
// 3-9 px and up to 1 degree a frame, with sensor noise. For a code of
// `diameter` px in 1280 x 720, the share of frames with an "Output:" line
// among those that `ScanBench FILE` (decode, then the finder) reads alone.
struct HandHeldClip {
    std::vector<cv::Mat> frames;
    std::vector<bool> fileReads;
    std::string text;
};

const HandHeldClip& handHeldClip(int diameter)
{
    static std::map<int, HandHeldClip> clips;
    HandHeldClip& clip = clips[diameter];
    if (!clip.frames.empty()) return clip;
    orb::samples::SceneRecipe recipe;
    recipe.frame = kFrameSize;
    recipe.codeShares = {diameter / 720.0};
    recipe.faults = {false, true, false, 0};
    recipe.seed = static_cast<unsigned>(diameter);
    const orb::samples::Scene scene = orb::samples::makeScene(orb::samples::loadPhotos().at(2), recipe);
    clip.text = scene.codes[0].text;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> step(3, 9), turn(-1, 1), sign(-1, 1);
    cv::Point2d shift;
    double angle = 0;
    for (int i = 0; i < 60; ++i) {
        const double length = step(random), direction = sign(random) * CV_PI;
        shift += cv::Point2d(length * std::cos(direction), length * std::sin(direction));
        shift *= 0.9; // the hand comes back towards where it aimed
        angle = 0.9 * angle + turn(random);
        cv::Mat transform = cv::getRotationMatrix2D(cv::Point2f(640, 360), angle, 1.0);
        transform.at<double>(0, 2) += shift.x;
        transform.at<double>(1, 2) += shift.y;
        cv::Mat frame, grain(kFrameSize, CV_16SC3), noisy;
        cv::warpAffine(scene.image, frame, transform, kFrameSize, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        cv::theRNG().state = random();
        cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(4)); // sensor noise
        frame.convertTo(noisy, CV_16SC3);
        cv::Mat(noisy + grain).convertTo(frame, CV_8UC3);
        std::string text;
        bool read = false;
        try {
            read = orb::decode(orb::DecoderConfiguration(), frame, true) == clip.text;
        } catch (const orb::OCException&) {
            read = app::findCode(orb::DecoderConfiguration(), frame, text) && text == clip.text;
        }
        clip.frames.push_back(frame);
        clip.fileReads.push_back(read);
    }
    return clip;
}

void BM_CameraHandHeld(benchmark::State& bench)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const HandHeldClip& clip = handHeldClip(static_cast<int>(bench.range(0)));
    app::CodeAreaFinder finder;
    app::CameraRunState state;
    state.measuring = false;
    state.startTicks = app::currentTicks();
    std::size_t index = 0, fileFrames = 0, bothFrames = 0, outputFrames = 0;
    for (auto _ : bench) {
        bench.PauseTiming();
        const std::size_t at = index++ % clip.frames.size();
        cv::Mat frame = clip.frames[at].clone();
        std::ostringstream output;
        bench.ResumeTiming();
        app::processCameraFrame(state, frame, finder, output);
        bench.PauseTiming();
        const bool printed = output.str().find("Output:\t" + clip.text + "\n") != std::string::npos;
        outputFrames += printed;
        fileFrames += clip.fileReads[at];
        bothFrames += printed && clip.fileReads[at];
        bench.ResumeTiming();
    }
    bench.counters["fps"] = benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
    bench.counters["file_share"] = static_cast<double>(fileFrames) / bench.iterations();
    bench.counters["output_share"] = static_cast<double>(outputFrames) / bench.iterations();
    bench.counters["output_of_file"] = fileFrames ? static_cast<double>(bothFrames) / fileFrames : 0;
}

} // namespace

BENCHMARK(BM_CameraLoopSoak)->Iterations(kSoakFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFramePlain)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFramePerspective1)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameBinarized)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameEnhanced)->Iterations(kClipFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraHandHeld)->Arg(500)->Arg(350)->Iterations(120)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CameraFrameStill)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
